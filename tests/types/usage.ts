// Compiles only if the typings describe the answers the way a host uses them.
import * as pelmora from '../../index';

const parse = <T>(text: pelmora.JsonText<T> | undefined): T => JSON.parse(text ?? 'null') as T;

const started: boolean | undefined = pelmora.start(() => {});
pelmora.processEvents();
pelmora.stop();
void started;

const info = parse(pelmora.getFocusedElementInfo());
const role: string = info.role;
const length: number = info.selectedTextLength;
void role;
void length;

const verdict = parse(pelmora.insertTextIntoFocusedElement('hello', 'com.example.app'));
if (verdict.ok) {
  const method: 'tty' | 'accessibility' = verdict.method;
  void method;
} else {
  const reason: pelmora.InsertionFailure = verdict.reason;
  void reason;
  const unresponsive: pelmora.InsertionFailure = 'target_unresponsive';
  void unresponsive;
}

const hotkeys = parse(pelmora.getSystemSymbolicHotkeys());
const first: number | undefined = hotkeys[0]?.k;
void first;

const front = parse(pelmora.getFrontmostApplicationInfo());
if (!front.ok) {
  const fixed: 'frontmost_app_unavailable' = front.reason;
  void fixed;
}

const read = parse(pelmora.readCapturedFocusedElementText());
if (read.ok) {
  const text: string = read.text;
  void text;
}

const usage: number | undefined = pelmora.getSystemFnUsageType();
void usage;

const micStarted: boolean | undefined = pelmora.startDjiMicButton(() => {});
const micActive: boolean | undefined = pelmora.isDjiMicButtonActive();
const micStopped: undefined = pelmora.stopDjiMicButton();
void micStarted;
void micActive;
void micStopped;
const modifiers: number | undefined = hotkeys[0]?.m;
void modifiers;

// @ts-expect-error the callback is required
pelmora.start();
// @ts-expect-error the microphone's callback is required too
pelmora.startDjiMicButton();
// @ts-expect-error the text must be a string
pelmora.insertTextIntoFocusedElement(42);
