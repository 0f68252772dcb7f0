#ifndef FUNCTIONS_WINDOW_SIGNALS_H
#define FUNCTIONS_WINDOW_SIGNALS_H

class QWidget;

// SIGTERM, SIGINT and SIGHUP close the window as its close control does: a step that runs is
// stopped first, then the window closes and the tool ends. The handler only writes a byte to
// a socket; the window's thread reads it and does the rest. False when the socket or the
// handlers could not be set up (the signals then end the tool as they would any program).
bool bClose_On_Signals(QWidget *qWindow);

#endif // FUNCTIONS_WINDOW_SIGNALS_H
