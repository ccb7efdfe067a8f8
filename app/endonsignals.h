#pragma once
// SIGTERM and SIGHUP (a shutdown, a session that ends) end the window as closing it
// does, without the question: an upload stops before its end command, so the module
// keeps the set it had, and the port is released as the window goes.
#include "session/signalwatch.h"

#include <memory>

class TForm1;

std::unique_ptr<SignalWatch> endOnSignals(TForm1 &form);

// Called right before the application's event loop runs. Before it, a signal (while
// the refusal box of a log given at start is open, say) closes the open box and makes
// endRequested() true: the program then ends instead of starting its event loop.
void eventLoopStarts();
bool endRequested();
