"""The control pipe the test applications share: JSON lines on stdin, answers
and events on stdout, read from the toolkit's own main loop.

  {"id": 1, "op": "setText", "field": 0, "text": "..."}
  {"id": 1, "ok": true, "result": ...}

Offsets on this pipe are characters (code points), as AT-SPI counts; each
application converts to what its toolkit counts. End of input (the harness
went away) quits the application.
"""
import json
import os
import sys


def write(obj):
    sys.stdout.write(json.dumps(obj) + '\n')
    sys.stdout.flush()


def config():
    """The application's set-up: a JSON file named by argv[1]."""
    with open(sys.argv[1], encoding='utf-8') as f:
        return json.load(f)


class Pipe:
    def __init__(self, handlers, quit):
        self.handlers = handlers
        self.quit = quit
        self.buffer = b''

    def readable(self):
        """Reads what is there; answers False once stdin is closed."""
        try:
            chunk = os.read(0, 65536)
        except BlockingIOError:
            return True
        if not chunk:
            self.quit()
            return False
        self.buffer += chunk
        while b'\n' in self.buffer:
            line, self.buffer = self.buffer.split(b'\n', 1)
            if line.strip():
                self.dispatch(line)
        return True

    def dispatch(self, line):
        try:
            req = json.loads(line.decode('utf-8'))
        except ValueError as e:
            write({'id': None, 'ok': False, 'error': f'bad request: {e}'})
            return
        handler = self.handlers.get(req.get('op'))
        if handler is None:
            write({'id': req.get('id'), 'ok': False, 'error': f'unknown op {req.get("op")!r}'})
            return
        try:
            write({'id': req.get('id'), 'ok': True, 'result': handler(req)})
        except Exception as e:  # the answer names it; the application keeps running
            write({'id': req.get('id'), 'ok': False, 'error': f'{type(e).__name__}: {e}'})


def utf16_offset(text, chars):
    """A character offset as UTF-16 units."""
    return len(text[:chars].encode('utf-16-le')) // 2


def char_offset(text, units):
    """A UTF-16 offset as characters."""
    return len(text.encode('utf-16-le')[:units * 2].decode('utf-16-le', errors='ignore'))
