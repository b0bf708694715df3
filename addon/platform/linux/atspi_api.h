// The desktop's libraries, opened with the dynamic loader on first use: the
// AT-SPI client library and what it is built on (GLib, GObject, D-Bus), GIO
// for desktop entries, and XCB for the X server's active window. Linking them
// would load a dozen libraries into every host that requires the addon,
// whether or not it ever dictates. Their headers give the types.
#pragma once

#include <atspi/atspi.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace platform::lx {

#define PELMORA_ATSPI_FUNCTIONS(X)            \
  X(atspi_init)                               \
  X(atspi_set_timeout)                        \
  X(atspi_get_desktop)                        \
  X(atspi_accessible_get_child_count)         \
  X(atspi_accessible_get_child_at_index)      \
  X(atspi_accessible_get_parent)              \
  X(atspi_accessible_get_process_id)          \
  X(atspi_accessible_get_role)                \
  X(atspi_accessible_get_localized_role_name) \
  X(atspi_accessible_get_name)                \
  X(atspi_accessible_get_state_set)           \
  X(atspi_accessible_get_collection_iface)    \
  X(atspi_accessible_get_text_iface)          \
  X(atspi_accessible_get_editable_text_iface) \
  X(atspi_accessible_get_component_iface)     \
  X(atspi_accessible_get_value_iface)         \
  X(atspi_state_set_contains)                 \
  X(atspi_state_set_new)                      \
  X(atspi_match_rule_new)                     \
  X(atspi_collection_get_matches)             \
  X(atspi_text_get_text)                      \
  X(atspi_text_get_character_count)           \
  X(atspi_text_set_caret_offset)              \
  X(atspi_text_set_selection)                 \
  X(atspi_text_add_selection)                 \
  X(atspi_editable_text_set_text_contents)    \
  X(atspi_component_grab_focus)               \
  X(atspi_value_get_current_value)            \
  X(atspi_accessible_get_toolkit_name)

#define PELMORA_GLIB_FUNCTIONS(X) \
  X(g_free)                       \
  X(g_error_free)                 \
  X(g_array_new)                  \
  X(g_array_append_vals)          \
  X(g_array_free)                 \
  X(g_variant_get)                \
  X(g_variant_unref)              \
  X(g_variant_new)                \
  X(g_quark_from_static_string)

#define PELMORA_GOBJECT_FUNCTIONS(X) \
  X(g_object_ref)                    \
  X(g_object_unref)

#define PELMORA_GIO_FUNCTIONS(X)      \
  X(g_bus_get_sync)                   \
  X(g_dbus_connection_call_sync)      \
  X(g_desktop_app_info_new_from_filename) \
  X(g_app_info_get_name)

// For the reads of a text's value and selection sent together (ax_linux.cc).
#define PELMORA_DBUS_FUNCTIONS(X)    \
  X(dbus_message_new_method_call)    \
  X(dbus_message_append_args)        \
  X(dbus_connection_send_with_reply) \
  X(dbus_pending_call_block)         \
  X(dbus_pending_call_steal_reply)   \
  X(dbus_pending_call_unref)         \
  X(dbus_message_unref)              \
  X(dbus_message_get_type)           \
  X(dbus_message_get_args)           \
  X(dbus_message_iter_init)          \
  X(dbus_message_iter_recurse)       \
  X(dbus_message_iter_get_arg_type)  \
  X(dbus_message_iter_get_basic)

// Every function the Linux layer calls, resolved once.
struct Api {
#define PELMORA_MEMBER(name) decltype(&::name) name = nullptr;
  PELMORA_ATSPI_FUNCTIONS(PELMORA_MEMBER)
  PELMORA_GLIB_FUNCTIONS(PELMORA_MEMBER)
  PELMORA_GOBJECT_FUNCTIONS(PELMORA_MEMBER)
  PELMORA_GIO_FUNCTIONS(PELMORA_MEMBER)
  PELMORA_DBUS_FUNCTIONS(PELMORA_MEMBER)
#undef PELMORA_MEMBER
  AtspiAccessible* desktop = nullptr;  // owned for the life of the process
};

// The libraries and the connection to the accessibility bus, opened on the
// first call; null when a library is missing or the bus cannot be reached.
const Api* api();

// Drops the GError a call filled in, if any; answers whether there was one.
bool failed(GError*& error);

}  // namespace platform::lx
