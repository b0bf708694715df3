#!/usr/bin/python3
"""A real Qt 5 window with line edits for the desktop tests, driven through
the control pipe (control.py). Qt counts UTF-16 units; the pipe counts
characters, converted here.

argv[1] names a JSON file: {"title": ..., "prgname": ..., "focus": 0,
"fields": [{"name": ..., "text": ..., "caret": n, "selection": [a, b]}]}
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import control  # noqa: E402

from PyQt5.QtCore import QSocketNotifier, QTimer  # noqa: E402
from PyQt5.QtWidgets import QApplication, QLineEdit, QVBoxLayout, QWidget  # noqa: E402

cfg = control.config()
app = QApplication([cfg.get('prgname') or 'qt5-app'])
if cfg.get('prgname'):
    app.setApplicationName(cfg['prgname'])

win = QWidget()
win.setWindowTitle(cfg.get('title', 'test'))
win.resize(480, 200)
layout = QVBoxLayout(win)
edits = []
for setup in cfg['fields']:
    e = QLineEdit()
    e.setAccessibleName(setup['name'])
    e.setText(setup.get('text', ''))
    layout.addWidget(e)
    edits.append(e)


def select(index, start, end):
    e = edits[index]
    text = e.text()
    a, b = control.utf16_offset(text, start), control.utf16_offset(text, end)
    if a == b:
        e.setCursorPosition(b)
    else:
        e.setSelection(a, b - a)  # the cursor ends at b


def place(index, setup):
    caret = setup.get('caret', len(edits[index].text()))
    sel = setup.get('selection') or [caret, caret]
    select(index, sel[0], sel[1])


def state(index):
    e = edits[index]
    text = e.text()
    sel = None
    if e.hasSelectedText():
        a = control.char_offset(text, e.selectionStart())
        sel = [a, a + len(e.selectedText())]
    return {'name': cfg['fields'][index]['name'], 'text': text,
            'caret': control.char_offset(text, e.cursorPosition()), 'selection': sel, 'focused': e.hasFocus()}


def focus(index):
    edits[index].setFocus()
    return state(index)


def present():
    win.raise_()
    win.activateWindow()
    return True


def op_set_text(req):
    i = req.get('field', 0)
    edits[i].setText(req['text'])
    if 'caret' in req or 'selection' in req:
        place(i, req)
    return state(i)


def op_select(req):
    select(req.get('field', 0), req['start'], req['end'])
    return state(req.get('field', 0))


def op_quit(req):
    QTimer.singleShot(0, app.quit)
    return True


pipe = control.Pipe({
    'setText': op_set_text,
    'select': op_select,
    'focus': lambda req: focus(req['field']),
    'present': lambda req: present(),
    'state': lambda req: [state(i) for i in range(len(edits))],
    'quit': op_quit,
}, app.quit)

os.set_blocking(0, False)
notifier = QSocketNotifier(0, QSocketNotifier.Read)
notifier.activated.connect(lambda *_: pipe.readable() or notifier.setEnabled(False))


def first_focus():
    win.activateWindow()
    focus(cfg.get('focus', 0))
    for i, setup in enumerate(cfg['fields']):
        place(i, setup)
    control.write({'event': 'ready', 'pid': os.getpid(), 'fields': [s['name'] for s in cfg['fields']]})


win.show()
QTimer.singleShot(0, first_focus)
sys.exit(app.exec_())
