#!/usr/bin/python3
"""The desktop tests' own AT-SPI client: what a field really holds, which
application is in front, and a few moves (focus, activation).

It is never the code under test: the tests drive pelmora.node and then ask
this reader what landed. One long-running process serves JSON lines on
stdin/stdout so that a query costs no process start:

  request   {"id": 1, "op": "field", "args": {"pid": 1234}}
  answer    {"id": 1, "ok": true, "result": {...}}
         or {"id": 1, "ok": false, "error": {"code": "timeout", "message": "..."}}

Offsets are what AT-SPI gives: characters (code points), never UTF-16.
The first line it prints is {"event": "ready", ...} once the accessibility
bus and its registry answer.
"""
import json
import os
import sys
import time

# Every read goes to the application: with no cache, a state or a text is
# never one that libatspi remembered from before.
os.environ['ATSPI_NO_CACHE'] = '1'

import gi  # noqa: E402
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi, Gio, GLib  # noqa: E402

CALL_TIMEOUT_MS = int(os.environ.get('PELMORA_READER_CALL_TIMEOUT_MS', '1000'))
WALK_LIMIT = 20000  # nodes a bounded walk visits at most


class Failure(Exception):
    def __init__(self, code, message):
        super().__init__(message)
        self.code = code


def classify(error):
    """A GLib.Error of a bus call as one of our codes."""
    text = str(error)
    if 'NoReply' in text or 'Did not receive a reply' in text or 'Timeout' in text or 'timed out' in text:
        return Failure('timeout', text)
    if 'ServiceUnknown' in text or 'was not provided' in text or 'UnknownObject' in text or 'Disconnected' in text:
        return Failure('gone', text)
    return Failure('failed', text)


def call(fn, *args):
    try:
        return fn(*args)
    except GLib.Error as e:
        raise classify(e) from None


class Deadline:
    def __init__(self, ms):
        self.end = time.monotonic() + ms / 1000.0
        self.ms = ms

    def check(self, what):
        if time.monotonic() > self.end:
            raise Failure('timeout', f'{what}: not done within {self.ms} ms')


def drain():
    # Signals libatspi subscribed to pile up while we block on stdin.
    ctx = GLib.MainContext.default()
    for _ in range(10000):
        if not ctx.pending():
            break
        ctx.iteration(False)


def session_call(conn, iface, method, params, reply_type):
    return conn.call_sync('org.a11y.Bus', '/org/a11y/bus', iface, method, params,
                          GLib.VariantType.new(reply_type), Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)


def retry(deadline, code, what, attempt):
    """attempt() until it answers something other than None."""
    last = None
    while True:
        try:
            value = attempt()
            if value is not None:
                return value
        except GLib.Error as e:
            last = e
        if time.monotonic() > deadline.end:
            raise Failure(code, f'{what} within {deadline.ms} ms: {last}')
        time.sleep(0.05)


def wait_for_bus(deadline_ms):
    """Waits until the launcher answers on the session bus, then until the
    registry answers on the accessibility bus."""
    deadline = Deadline(deadline_ms)
    conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address, enabled = retry(deadline, 'no_bus', 'org.a11y.Bus did not answer on the session bus', lambda: (
        session_call(conn, 'org.a11y.Bus', 'GetAddress', None, '(s)').unpack()[0],
        session_call(conn, 'org.freedesktop.DBus.Properties', 'Get',
                     GLib.Variant('(ss)', ('org.a11y.Status', 'IsEnabled')), '(v)').unpack()[0]))
    if Atspi.init() > 1:
        raise Failure('no_bus', f'libatspi could not connect to the accessibility bus at {address}')
    Atspi.set_timeout(CALL_TIMEOUT_MS, 0)
    # A child count of -1 is a registry that did not answer (yet).
    retry(deadline, 'no_registry', 'the AT-SPI registry did not answer',
          lambda: Atspi.get_desktop(0).get_child_count() >= 0 or None)
    return address, enabled


def state_set(acc):
    # GetState takes no GError in libatspi: a call that timed out or whose
    # application went away answers a set holding only "defunct".
    states = call(acc.get_state_set)
    if states.contains(Atspi.StateType.DEFUNCT):
        raise Failure('defunct', 'the accessible is defunct (its application did not answer or is gone)')
    return states


def states_of(acc):
    return sorted(s.value_nick for s in state_set(acc).get_states())


def has_state(acc, state):
    return state_set(acc).contains(state)


def applications():
    desktop = Atspi.get_desktop(0)
    n = call(desktop.get_child_count)
    out = []
    for i in range(n):
        app = call(desktop.get_child_at_index, i)
        if app is not None:
            out.append(app)
    return out


def app_pid(app):
    # Asked of the bus daemon, not of the application: answers even when the
    # application is stopped.
    return call(app.get_process_id)


def app_for(pid):
    for app in applications():
        try:
            if app_pid(app) == pid:
                return app
        except Failure:
            continue
    raise Failure('not_found', f'no application with pid {pid} on the accessibility bus')


def children(acc):
    n = call(acc.get_child_count)
    if n < 0:
        # A property read that timed out sets no GError in libatspi: -1 is
        # all that tells it.
        raise Failure('timeout', 'ChildCount got no answer (the application is hung or gone)')
    for i in range(n):
        child = call(acc.get_child_at_index, i)
        if child is not None:
            yield child


def active_window(app):
    for win in children(app):
        if has_state(win, Atspi.StateType.ACTIVE):
            return win
    return None


def interfaces(acc):
    return list(call(acc.get_interfaces))


def walk(root, deadline, accept):
    """Depth-first, bounded by node count and the deadline."""
    stack = [root]
    visited = 0
    while stack:
        node = stack.pop()
        visited += 1
        if visited > WALK_LIMIT:
            raise Failure('too_large', f'gave up after {WALK_LIMIT} accessibles')
        deadline.check('walking the tree')
        if node is not root and accept(node):
            return node, visited
        stack.extend(reversed(list(children(node))))
    return None, visited


def focused_in(window, deadline):
    if 'Collection' in interfaces(window):
        rule = Atspi.MatchRule.new(Atspi.StateSet.new([Atspi.StateType.FOCUSED]), Atspi.CollectionMatchType.ALL,
                                   {}, Atspi.CollectionMatchType.ALL, [], Atspi.CollectionMatchType.ALL,
                                   [], Atspi.CollectionMatchType.ALL, False)
        found = call(Atspi.Collection.get_matches, window, rule, Atspi.CollectionSortOrder.CANONICAL, 1, True)
        if found:
            return found[0], 'collection'
    node, _ = walk(window, deadline, lambda n: has_state(n, Atspi.StateType.FOCUSED))
    return node, 'walk'


def describe(acc):
    ifaces = interfaces(acc)
    out = {
        'role': call(acc.get_role_name),
        'name': call(acc.get_name),
        'states': states_of(acc),
        'interfaces': ifaces,
    }
    if 'Text' in ifaces:
        count = call(Atspi.Text.get_character_count, acc)
        # GTK 4 answers "" for GetText(0, -1): the end is always the count.
        out['text'] = call(Atspi.Text.get_text, acc, 0, count)
        out['characterCount'] = count
        out['caret'] = call(Atspi.Text.get_caret_offset, acc)
        sels = []
        for i in range(call(Atspi.Text.get_n_selections, acc)):
            r = call(Atspi.Text.get_selection, acc, i)
            sels.append([r.start_offset, r.end_offset])
        out['selections'] = sels
    out['editable'] = 'editable' in out['states']
    out['editableText'] = 'EditableText' in ifaces
    return out


def op_field(args, deadline):
    pid = args['pid']
    app = app_for(pid)
    win = active_window(app)
    if win is None:
        raise Failure('no_active_window', f'pid {pid} has no window with the active state')
    acc, how = focused_in(win, deadline)
    if acc is None:
        raise Failure('no_focus', f'the active window of pid {pid} has no focused accessible')
    out = describe(acc)
    out.update({'pid': pid, 'app': call(app.get_name), 'window': call(win.get_name), 'foundBy': how})
    return out


def op_active_app(args, deadline):
    """The application whose window has the active state; applications that
    do not answer are listed, not waited for twice."""
    unresponsive = []
    found = None
    for app in applications():
        deadline.check('looking for the active window')
        try:
            pid = app_pid(app)
        except Failure:
            continue
        try:
            win = active_window(app)
        except Failure as e:
            unresponsive.append({'pid': pid, 'code': e.code})
            continue
        if win is not None and found is None:
            found = {'pid': pid, 'name': call(app.get_name), 'window': call(win.get_name)}
    return {'active': found, 'unresponsive': unresponsive}


def op_apps(args, deadline):
    out = []
    for app in applications():
        deadline.check('listing applications')
        entry = {'pid': None, 'name': None}
        try:
            entry['pid'] = app_pid(app)
            # Children first: unlike a name, their count tells a hung application.
            wins = list(children(app))
            entry['name'] = call(app.get_name)
            entry['toolkit'] = call(app.get_toolkit_name)
            entry['windows'] = [{'name': call(w.get_name), 'role': call(w.get_role_name),
                                 'active': has_state(w, Atspi.StateType.ACTIVE)} for w in wins]
        except Failure as e:
            entry['error'] = e.code
        out.append(entry)
    return out


def named(app, name, deadline):
    node, _ = walk(app, deadline, lambda n: call(n.get_name) == name)
    if node is None:
        raise Failure('not_found', f'no accessible named {name!r}')
    return node


def op_focus(args, deadline):
    acc = named(app_for(args['pid']), args['name'], deadline)
    if 'Component' not in interfaces(acc):
        raise Failure('failed', f'{args["name"]!r} implements no Component')
    return {'grabbed': bool(call(Atspi.Component.grab_focus, acc))}


def grab(acc):
    try:
        return 'Component' in interfaces(acc) and bool(call(Atspi.Component.grab_focus, acc))
    except Failure as e:
        if e.code == 'timeout':
            raise
        return False


def op_activate(args, deadline):
    """Brings pid's first window forward through AT-SPI alone: GrabFocus on
    the window, else on its focused (or first focusable) accessible, which
    GTK 3 answers by presenting the toplevel. Whether it became active is
    for the caller to check (activeApp)."""
    app = app_for(args['pid'])
    wins = list(children(app))
    if not wins:
        raise Failure('failed', f'pid {args["pid"]} has no window')
    win = wins[0]
    if grab(win):
        return {'grabbed': 'window', 'window': call(win.get_name)}
    for state in (Atspi.StateType.FOCUSED, Atspi.StateType.FOCUSABLE):
        node, _ = walk(win, deadline, lambda n, s=state: has_state(n, s))
        if node is not None and grab(node):
            return {'grabbed': call(node.get_role_name), 'window': call(win.get_name)}
    return {'grabbed': None, 'window': call(win.get_name)}


def op_describe(args, deadline):
    """The accessible of a given name, wherever the focus is."""
    return describe(named(app_for(args['pid']), args['name'], deadline))


OPS = {
    'ping': lambda args, deadline: {'pid': os.getpid()},
    'field': op_field,
    'activeApp': op_active_app,
    'apps': op_apps,
    'focus': op_focus,
    'activate': op_activate,
    'describe': op_describe,
}


def write(obj):
    sys.stdout.write(json.dumps(obj) + '\n')
    sys.stdout.flush()


def main():
    startup_ms = int(os.environ.get('PELMORA_READER_STARTUP_MS', '15000'))
    t0 = time.monotonic()
    try:
        address, enabled = wait_for_bus(startup_ms)
    except Failure as e:
        write({'event': 'failed', 'code': e.code, 'message': str(e)})
        return 1
    write({'event': 'ready', 'pid': os.getpid(), 'busAddress': address, 'isEnabled': enabled,
           'ms': round((time.monotonic() - t0) * 1000)})
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            req = json.loads(line)
        except ValueError as e:
            write({'id': None, 'ok': False, 'error': {'code': 'bad_request', 'message': str(e)}})
            continue
        drain()
        rid = req.get('id')
        fn = OPS.get(req.get('op'))
        if fn is None:
            write({'id': rid, 'ok': False, 'error': {'code': 'bad_request', 'message': f'unknown op {req.get("op")!r}'}})
            continue
        args = req.get('args') or {}
        try:
            result = fn(args, Deadline(args.get('timeoutMs', 5000)))
            write({'id': rid, 'ok': True, 'result': result})
        except Failure as e:
            write({'id': rid, 'ok': False, 'error': {'code': e.code, 'message': str(e)}})
        except (KeyError, TypeError) as e:
            write({'id': rid, 'ok': False, 'error': {'code': 'bad_request', 'message': repr(e)}})
    return 0


if __name__ == '__main__':
    sys.exit(main())
