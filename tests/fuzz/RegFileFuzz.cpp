// A .reg file stands in for the registry on Linux; anyone who can write it controls it.
#include <string>
#include <string_view>

#include "framework/registry/RegFile.h"
#include "tests/fuzz/FuzzTargets.h"

namespace fuzz {

int RegFile(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto result = fw::registry::Parse(bytes);
    FUZZ_CHECK(result.hive.has_value() != !result.error.empty());
    if (result.hive) {
        for (const auto& [path, values] : *result.hive) {
            // Lookups canonicalise their path, so a key stored any other way is unreachable.
            FUZZ_CHECK(fw::registry::CanonicalKeyPath(path) == path);
            // Value names are looked up in upper case too.
            for (const auto& value : values) {
                for (const char c : value.first)
                    FUZZ_CHECK(!(c >= 'a' && c <= 'z'));
            }
        }
    }
    const std::string path(bytes.substr(0, bytes.size() < 300 ? bytes.size() : 300));
    const std::string canonical = fw::registry::CanonicalKeyPath(path);
    FUZZ_CHECK(fw::registry::CanonicalKeyPath(canonical) == canonical);
    return 0;
}

} // namespace fuzz
