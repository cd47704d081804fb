#pragma once

class QWidget;

// Centres a window on the screen it is on (or the primary screen).
void CenterWindow(QWidget *window);
