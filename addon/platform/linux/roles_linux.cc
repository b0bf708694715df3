#include "platform/linux/roles_linux.h"

#include <iterator>

namespace platform::lx {
namespace {

enum class Text : uint8_t { no, byLines, whenEditable };

struct Entry {
  AtspiRole role;
  std::string_view ax;
  Text text = Text::no;
  std::string_view subrole = {};
};

// One table for every role the logic tells apart: the text roles that take
// dictation, the containers its search walks, windows and web documents.
// GTK 3's GtkEntry is ATSPI_ROLE_TEXT with the single-line state, GTK 4's too;
// Chromium's input and textarea are ATSPI_ROLE_ENTRY, single- or multi-line.
constexpr Entry kRoles[] = {
    {ATSPI_ROLE_ENTRY, "AXTextField", Text::byLines},
    {ATSPI_ROLE_TEXT, "AXTextField", Text::byLines},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField", Text::no, "AXSecureTextField"},
    {ATSPI_ROLE_EDITBAR, "AXTextField", Text::byLines},
    {ATSPI_ROLE_TERMINAL, "AXTextArea"},
    {ATSPI_ROLE_PARAGRAPH, "AXStaticText", Text::whenEditable},
    {ATSPI_ROLE_SECTION, "AXGroup", Text::whenEditable},
    {ATSPI_ROLE_COMBO_BOX, "AXComboBox"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXGroup"},
    {ATSPI_ROLE_DOCUMENT_TEXT, "AXTextArea"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_FRAME, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_FILE_CHOOSER, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow"},
    {ATSPI_ROLE_PANEL, "AXGroup"},
    {ATSPI_ROLE_FILLER, "AXGroup"},
    {ATSPI_ROLE_FORM, "AXGroup"},
    {ATSPI_ROLE_GROUPING, "AXGroup"},
    {ATSPI_ROLE_LAYERED_PANE, "AXGroup"},
    {ATSPI_ROLE_ROOT_PANE, "AXGroup"},
    {ATSPI_ROLE_INTERNAL_FRAME, "AXGroup"},
    {ATSPI_ROLE_EMBEDDED, "AXGroup"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_VIEWPORT, "AXScrollArea"},
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_HEADING, "AXStaticText"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_LIST_ITEM, "AXGroup"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TREE_TABLE, "AXOutline"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter"},
};

const Entry* find(AtspiRole role) {
  for (const Entry& e : kRoles)
    if (e.role == role) return &e;
  return nullptr;
}

}  // namespace

RoleName axRole(AtspiRole role, bool multiLine, bool editable) {
  const Entry* e = find(role);
  if (!e) return {"AXUnknown", {}};
  switch (e->text) {
    case Text::byLines: return {multiLine ? "AXTextArea" : "AXTextField", e->subrole};
    case Text::whenEditable: return {editable ? "AXTextArea" : e->ax, e->subrole};
    case Text::no: break;
  }
  return {e->ax, e->subrole};
}

bool roleNeedsStates(AtspiRole role) {
  const Entry* e = find(role);
  return e && e->text != Text::no;
}

}  // namespace platform::lx
