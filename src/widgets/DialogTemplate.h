#pragma once

// A dialog template: its controls' rectangles in dialog units.

#include <vector>

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    ComboDropDown,
    Label,
    GroupBox,
    CheckBox,
    ListBox,
    Icon,
};

// Style flags of a control template.
enum ControlStyle : unsigned {
    CS_NONE = 0,
    CS_DISABLED = 1u << 0,
    CS_TABSTOP = 1u << 1,
    CS_RIGHT = 1u << 2,  // right-aligned text
    CS_CENTER = 1u << 3, // centred text
    CS_GROUP = 1u << 4,
    CS_VSCROLL = 1u << 5,
    CS_NOTIFY = 1u << 6,
};

struct ControlTemplate {
    int id; // -1 for a static without id
    ControlKind kind;
    const char* text;
    unsigned style;
    int x, y, cx, cy;
};

struct DialogTemplate {
    int id;
    const char* caption; // null for a child form
    int x, y, cx, cy;
    std::vector<ControlTemplate> controls;
};
