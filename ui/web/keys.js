// Which keys end a session: every key but those the desktop faces leave to the system.
// On Windows these arrive as WM_SYSKEYDOWN and never end a session there: Alt itself,
// F10, and any key pressed while Alt is held, unless Ctrl is held too (Ctrl+Alt and
// AltGr make ordinary chords).
export function isSystemKey(event) {
  if (event.key === 'Alt') return true;
  if (event.ctrlKey || event.key === 'AltGraph') return false;
  return event.key === 'F10' || event.altKey;
}

// A key press that ends a session: a fresh press (a key already held when the session
// began only repeats) of any key but a system key.
export function endsSession(event) {
  return !event.repeat && !isSystemKey(event);
}
