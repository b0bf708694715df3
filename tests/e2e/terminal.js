'use strict';
// A real shell in a real pseudo-terminal, and stand-ins for osascript.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const ptyShell = process.env.PELMORA_PTY_SHELL || path.join(__dirname, 'bin', 'pty_shell');

class Terminal {
  static async start(program, args = []) {
    const t = new Terminal();
    t.child = spawn(ptyShell, [program, ...args], { stdio: ['pipe', 'pipe', 'inherit'] });
    t.output = '';
    t.child.stdout.setEncoding('utf8');
    t.child.stdout.on('data', (d) => { t.output += d; });
    t.path = (await t.waitFor(/^(\/dev\/\S+)\n/, 5000))[1];
    return t;
  }

  // Resolves with the match once the terminal has shown it.
  waitFor(pattern, ms = 5000) {
    return new Promise((resolve, reject) => {
      const started = Date.now();
      const check = () => {
        const m = this.output.match(pattern);
        if (m) return resolve(m);
        if (Date.now() - started > ms) return reject(new Error(`terminal never showed ${pattern}; it showed:\n${this.output}`));
        setTimeout(check, 20);
      };
      check();
    });
  }

  // What the terminal shows, without its control sequences (the shells see
  // an xterm, as in a terminal application, and colour and move about).
  get text() {
    // eslint-disable-next-line no-control-regex
    return this.output.replace(/\x1b\[[0-9;?>=]*[ -\/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)|\x1b[()=>][0-9A-Za-z]?/g, '');
  }

  // The program itself: the relay's only child.
  get pid() {
    return Number(fs.readFileSync(`/proc/${this.child.pid}/task/${this.child.pid}/children`, 'utf8').trim());
  }

  signal(name) { process.kill(this.pid, name); }

  // Types on the keyboard side; a line feed is the Return key.
  type(text) { this.child.stdin.write(text); }

  // Pastes as terminal applications do for a shell that asks for it
  // (bracketed paste): the shell takes the text in one piece.
  paste(text) { this.type(`\x1b[200~${text}\x1b[201~`); }

  close() {
    this.child.stdin.end();
    this.child.kill('SIGKILL');
  }
}

// A script standing in for osascript: records its arguments, then behaves
// as asked.
function standInOsascript(body) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-osa-'));
  const file = path.join(dir, 'osascript');
  const argsFile = path.join(dir, 'args');
  fs.writeFileSync(file, `#!/bin/sh\nfor a in "$@"; do printf '%s\\0' "$a"; done > '${argsFile}'\n${body}\n`, { mode: 0o755 });
  return {
    file,
    args: () => (fs.existsSync(argsFile) ? fs.readFileSync(argsFile, 'utf8').split('\0').slice(0, -1) : null),
    remove: () => fs.rmSync(dir, { recursive: true, force: true }),
  };
}

module.exports = { Terminal, standInOsascript, ptyShell };
