#include "cli/Document.h"

#include "cli/Text.h"

namespace cli {

namespace {

Json NodeText(const std::string& node) {
    return node.empty() ? Json(nullptr) : Json(JsonText(node));
}

} // namespace

Json DriveRecord(const DriveIdentity& drive) {
    return Json{{"index", drive.index},
                {"path", drive.Path()},
                {"serial", JsonText(drive.serial)},
                {"vendor", JsonText(drive.vendor)},
                {"product", JsonText(drive.product)},
                {"sg_node", NodeText(drive.passThroughNode)},
                {"tape_node", NodeText(drive.tapeNode)},
                {"revision_before", JsonText(drive.revision)},
                {"revision_after", nullptr},
                {"result", nullptr},
                {"reason", nullptr},
                {"messages", Json::array()},
                {"sense", nullptr},
                {"seconds", nullptr}};
}

void Decide(Json& record, const char* result, const std::string& reason) {
    record["result"] = result;
    record["reason"] = reason.empty() ? Json(nullptr) : Json(JsonText(reason));
}

std::string ResultOf(const Json& record) {
    const auto result = record.find("result");
    return result != record.end() && result->is_string() ? result->get<std::string>()
                                                         : std::string();
}

bool Describes(const Json& record, const DriveIdentity& drive) {
    const Json expected = DriveRecord(drive);
    for (const char* key : {"index", "path", "serial", "vendor", "product"}) {
        if (!record.is_object() || !record.contains(key) || record[key] != expected[key]) {
            return false;
        }
    }
    return true;
}

std::string DocumentText(const Json& document) {
    // Every outside text went through JsonText; should one have slipped past, a replacement
    // character is better than a run that ends without its record.
    return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string LineText(const Json& line) {
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json ParseText(const std::string& text) { return Json::parse(text, nullptr, false); }

} // namespace cli
