#include "framework/Templates.h"

namespace fw {
namespace {

// Installed at start-up, before any dialog and before any other thread: no lock.
std::span<const DialogTemplate> g_templates;

} // namespace

void InstallDialogTemplates(std::span<const DialogTemplate> table) { g_templates = table; }

const DialogTemplate* FindDialogTemplate(int id) { return FindDialogTemplate(g_templates, id); }

const DialogTemplate* FindDialogTemplate(std::span<const DialogTemplate> table, int id) {
    for (const auto& dialog : table) {
        if (dialog.id == id) {
            return &dialog;
        }
    }
    return nullptr;
}

const char* WindowClassName(ControlKind kind) {
    switch (kind) {
    case ControlKind::ListBox:
        return "LISTBOX";
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
        return "BUTTON";
    case ControlKind::Static:
    case ControlKind::Picture:
        return "STATIC";
    case ControlKind::Edit:
        return "EDIT";
    case ControlKind::Progress:
        return "msctls_progress32";
    case ControlKind::Animation:
        return "SysAnimate32";
    }
    return "STATIC";
}

} // namespace fw
