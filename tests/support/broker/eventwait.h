#pragma once

#include <functional>

// Runs the calling thread's event loop until condition() holds or timeoutMs passed; returns the
// final value of condition(). Objects on this thread (clients under test, fake servers, helper
// processes) keep working meanwhile.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
