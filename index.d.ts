// Typings of resources/bin/pelmora.node. Every export runs synchronously on
// the calling thread and throws nothing; an export answers undefined only
// when the host could not create the result value. Any JavaScript thread may
// call the exports (worker threads load the same module): calls from several
// threads take turns, and all of them share one captured target and one of
// each monitor.

/** A JSON text that parses (JSON.parse) to T. */
export type JsonText<T> = string & { readonly __parsesTo?: T };

// ---- Triggers -------------------------------------------------------------

/**
 * Starts the Fn/Globe tap monitor; the callback runs once per tap, with no
 * arguments, on a later turn of the event loop of the thread that started it.
 * The keyboard tap answers from a thread of its own, so a busy JavaScript
 * thread never holds up the user's keystrokes. A monitor started from a
 * worker thread stops when that worker ends (its callback lives there); start
 * it from a thread that outlives its use. Answers false when the system gives
 * no tap that sees every key press (Input Monitoring or Accessibility missing).
 */
export function start(callback: () => void): boolean | undefined;
/** Stops the monitor, whichever thread started it. */
export function stop(): undefined;
/**
 * Runs the calling thread's run loop for 1 ms while a monitor is active. The
 * microphone monitor's events arrive on the main run loop: a host whose main
 * run loop does not turn by itself calls this from the main thread.
 */
export function processEvents(): undefined;
export function isActive(): boolean | undefined;

/**
 * Starts the microphone button monitor; the callback runs once per press, on
 * the starting thread's event loop. Like the tap monitor, it stops when the
 * worker thread that started it ends.
 */
export function startDjiMicButton(callback: () => void): boolean | undefined;
export function stopDjiMicButton(): undefined;
export function isDjiMicButtonActive(): boolean | undefined;

// ---- Keyboard settings ------------------------------------------------------

/** What the Fn/Globe key is set to do (the stored value, passed through; 0 when unset). */
export function getSystemFnUsageType(): number | undefined;

export interface SymbolicHotkey {
  /** key code */
  k: number;
  /** modifier flags */
  m: number;
}
export function getSystemSymbolicHotkeys(): JsonText<SymbolicHotkey[]> | undefined;

// ---- Focus ------------------------------------------------------------------

export type CaptureError =
  | ''
  | 'accessibility_not_trusted'
  | 'missing_frontmost_app'
  | 'missing_focused_element'
  | `focus_error_${number}`;

export interface FocusedElementInfo {
  appName: string;
  bundleID: string;
  role: string;
  subrole: string;
  roleDescription: string;
  selectedTextRangeAvailable: boolean;
  /** user-perceived characters (grapheme clusters) */
  selectedTextLength: number;
  /** empty on success */
  error: CaptureError;
}
/** Captures the focused text field as the target of the next insertion and describes it. */
export function getFocusedElementInfo(): JsonText<FocusedElementInfo> | undefined;

export type FrontmostApplicationInfo =
  | { ok: true; appName: string; bundleID: string; reason: '' }
  | { ok: false; appName: 'Current App'; bundleID: ''; reason: 'frontmost_app_unavailable' };
export function getFrontmostApplicationInfo(): JsonText<FrontmostApplicationInfo> | undefined;

export type CapturedTextAnswer =
  | { ok: true; appName: string; bundleID: string; text: string }
  | {
      ok: false;
      appName: string;
      bundleID: string;
      reason: 'missing_captured_target' | 'frontmost_app_changed' | 'missing_value' | 'captured_target_expired';
    };
export function readCapturedFocusedElementText(): JsonText<CapturedTextAnswer> | undefined;

// ---- Insertion ----------------------------------------------------------------

export type InsertionFailure =
  | 'empty_text'
  | Exclude<CaptureError, ''>
  | 'focus_target_mismatch'
  | 'frontmost_app_changed'
  /** the terminal route typed nothing, or erased what it typed: the shell's line is as it was */
  | 'tty_write_failed'
  /**
   * part of the text reached the shell and stays on its command line (not run): a paste would
   * repeat that part. The shell stopped reading, or its line could not be erased character by
   * character; the terminal is brought forward for the user to finish the line.
   */
  | 'tty_write_incomplete'
  | 'clipboard_preferred_jetbrains'
  | 'clipboard_preferred_web_editor_bundle'
  | 'focus_drifted'
  | 'clipboard_preferred_web'
  | 'clipboard_preferred_bundle'
  | 'missing_value'
  | 'missing_selected_text_range'
  | 'invalid_selected_text_range'
  | 'ax_write_verification_failed'
  /** a route test could not be completed: the application answered too slowly or not at all */
  | 'target_unresponsive';

export type InsertionVerdict =
  | { ok: true; method: 'tty' | 'accessibility'; appName: string; bundleID: string }
  | { ok: false; appName: string; bundleID: string; reason: InsertionFailure };

/**
 * Inserts the text into the captured field. For most failures the target
 * application is already in front with the field focused, ready for a paste.
 */
export function insertTextIntoFocusedElement(text: string, expectedBundleID?: string): JsonText<InsertionVerdict> | undefined;
