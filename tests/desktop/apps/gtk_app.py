#!/usr/bin/python3
"""A real GTK 3 or GTK 4 window for the desktop tests: one entry, one text
view, two entries, or (GTK 3) a VTE terminal running bash, driven through the
control pipe (control.py).

argv[1] names a JSON file: {"toolkit": "gtk3"|"gtk4", "widget": "entry"|"textview"|
"two-entries"|"terminal", "title": ..., "prgname": ..., "focus": 0,
"fields": [{"name": ..., "text": ..., "caret": n, "selection": [a, b]}]}
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import control  # noqa: E402

cfg = control.config()
GTK4 = cfg.get('toolkit') == 'gtk4'

import gi  # noqa: E402
gi.require_version('Gtk', '4.0' if GTK4 else '3.0')
from gi.repository import GLib, Gtk  # noqa: E402
if cfg.get('widget') == 'terminal':
    gi.require_version('Vte', '2.91')
    from gi.repository import Vte  # noqa: E402

if cfg.get('prgname'):
    GLib.set_prgname(cfg['prgname'])

loop = GLib.MainLoop()


class Field:
    """One editable widget; offsets in characters, as GTK counts them."""

    def __init__(self, setup):
        self.name = setup['name']
        self.terminal = cfg['widget'] == 'terminal'
        if self.terminal:
            # A terminal emulator as a desktop's are: the widget holds the
            # pseudo-terminal's master side, bash leads a session on the other.
            self.widget = Vte.Terminal()
            self.buffer = None
            self.widget.get_accessible().set_name(self.name)
            env = [f'{k}={v}' for k, v in os.environ.items() if not k.startswith('GIO_LAUNCHED')]
            env += ['PS1=$ ', 'TERM=xterm-256color']
            self.widget.spawn_sync(Vte.PtyFlags.DEFAULT, os.environ.get('HOME', '/'),
                                   ['/bin/bash', '--norc', '--noprofile', '-i'], env, GLib.SpawnFlags.DEFAULT,
                                   None, None, None)
            return
        if cfg['widget'] == 'textview':
            self.widget = Gtk.TextView()
            self.buffer = self.widget.get_buffer()
        else:
            self.widget = Gtk.Entry()
            self.buffer = None
        if GTK4:
            self.widget.update_property([Gtk.AccessibleProperty.LABEL], [self.name])
        else:
            self.widget.get_accessible().set_name(self.name)
        self.set_text(setup.get('text', ''))

    def text(self):
        if self.terminal:
            return self.widget.get_text()[0].rstrip('\n')
        if self.buffer:
            return self.buffer.get_text(self.buffer.get_start_iter(), self.buffer.get_end_iter(), True)
        return self.widget.get_text()

    def set_text(self, text):
        if self.terminal:
            self.widget.feed_child(text.encode())
            return
        if self.buffer:
            self.buffer.set_text(text)
        else:
            self.widget.set_text(text)

    def select(self, start, end):
        """Caret at end; start == end is a plain caret."""
        if self.buffer:
            self.buffer.select_range(self.buffer.get_iter_at_offset(end), self.buffer.get_iter_at_offset(start))
        elif start == end:
            self.widget.set_position(end)
        else:
            self.widget.select_region(start, end)

    def state(self):
        if self.terminal:
            return {'name': self.name, 'text': self.text(), 'caret': None, 'selection': None,
                    'focused': self.has_focus()}
        if self.buffer:
            caret = self.buffer.get_iter_at_mark(self.buffer.get_insert()).get_offset()
            bounds = self.buffer.get_selection_bounds()
            sel = [bounds[0].get_offset(), bounds[1].get_offset()] if bounds else None
        else:
            caret = self.widget.get_position()
            bounds = tuple(self.widget.get_selection_bounds())
            if len(bounds) == 3:  # (has, start, end) without PyGObject's override
                bounds = bounds[1:] if bounds[0] else ()
            sel = list(bounds) if bounds and bounds[0] != bounds[1] else None
        return {'name': self.name, 'text': self.text(), 'caret': caret, 'selection': sel,
                'focused': self.has_focus()}

    def has_focus(self):
        # GTK 4 focuses the entry's inner text widget, not the entry.
        focus = self.widget.get_root().get_focus() if GTK4 else self.widget.get_toplevel().get_focus()
        return focus is not None and (focus == self.widget or focus.is_ancestor(self.widget))


def build():
    win = Gtk.Window(title=cfg.get('title', 'test'))
    win.set_default_size(480, 200)
    setups = cfg['fields']
    fields = [Field(s) for s in setups]
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    for f in fields:
        child = f.widget
        if f.buffer:
            child = Gtk.ScrolledWindow()
            child.set_vexpand(True)
            if GTK4:
                child.set_child(f.widget)
            else:
                child.add(f.widget)
        if GTK4:
            box.append(child)
        else:
            box.pack_start(child, True, True, 0)
    if GTK4:
        win.set_child(box)
        win.connect('close-request', lambda *_: (loop.quit(), False)[1])
    else:
        win.add(box)
        win.connect('destroy', lambda *_: loop.quit())
    return win, fields


win, fields = build()


def focus(index):
    f = fields[index]
    f.widget.grab_focus()
    return f


def place(index, setup):
    if fields[index].terminal:
        return
    caret = setup.get('caret', len(fields[index].text()))
    sel = setup.get('selection') or [caret, caret]
    fields[index].select(sel[0], sel[1])


def first_focus():
    # Grabbing the focus may select the whole entry; the requested caret or
    # selection is placed after it.
    index = cfg.get('focus', 0)
    focus(index)
    for i, setup in enumerate(cfg['fields']):
        place(i, setup)
    control.write({'event': 'ready', 'pid': os.getpid(), 'fields': [f.name for f in fields]})
    return False


def present():
    if GTK4:
        win.present()
    else:
        win.present_with_time(0)
    return True


def op_set_text(req):
    f = fields[req.get('field', 0)]
    f.set_text(req['text'])
    if 'caret' in req or 'selection' in req:
        place(req.get('field', 0), req)
    return f.state()


def op_select(req):
    f = fields[req.get('field', 0)]
    f.select(req['start'], req['end'])
    return f.state()


def op_quit(req):
    GLib.idle_add(loop.quit)
    return True


pipe = control.Pipe({
    'setText': op_set_text,
    'select': op_select,
    'focus': lambda req: focus(req['field']).state(),
    'present': lambda req: present(),
    'state': lambda req: [f.state() for f in fields],
    'quit': op_quit,
}, loop.quit)

os.set_blocking(0, False)
GLib.io_add_watch(0, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP,
                  lambda *_: pipe.readable())
if GTK4:
    win.present()
else:
    win.show_all()
    win.present()
GLib.idle_add(first_focus)
loop.run()
