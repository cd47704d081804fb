#pragma once

class QDateEdit;
class QWidget;

// Centres a window on the screen it is on (or the primary screen).
void CenterWindow(QWidget *window);

// Shows the window and brings it to the front with the focus, out of the
// task bar if it was minimised (keeping it maximised if it was): how a
// command opens a window that may already be open.
void BringForward(QWidget *window);

// The window cannot be made smaller than its layout's preferred size, where
// every control shows its whole text. Call once the window's contents are
// set up (texts that widen it later do not move the limit).
void ApplyLayoutMinimumSize(QWidget *window);

// Escape closes the window.
void CloseOnEscape(QWidget *window);
// Enter and Return press whichever of the window's push buttons has focus.
void EnterPressesFocusedButton(QWidget *window);
// A click into the picker's field selects the part clicked (day, month or
// year), so digits typed next replace it as a desktop date field does.
void SelectSectionOnClick(QDateEdit *picker);
