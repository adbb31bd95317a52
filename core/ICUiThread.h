#pragma once

#include <cstdint>

// The user-interface thread of the process and the hook that pumps its events.
//
// The process records which thread runs its user interface: the application in its
// initialisation, each stream module in its library constructor. A thread that waits for a
// worker to end keeps that thread's events flowing while it waits (ICThread::WaitForEnd), so a
// worker that hands something to the user interface before it ends cannot deadlock with it.
// The core knows no user-interface toolkit: the application installs a pump that delivers the
// events pending for the user-interface thread.
//
// Each copy of the core (the application and every module library) keeps its own record and
// hook.

// The kernel's identifier of the calling thread (never 0).
uint32_t ICGetCurrentThreadId();

// Records the user-interface thread; 0 means there is none.
void ICSetUiThreadId(uint32_t threadId);
uint32_t ICGetUiThreadId();
// True when the calling thread is the recorded user-interface thread.
bool ICIsUiThread();

// Delivers the events pending for the user-interface thread. Called on that thread only, and
// possibly re-entered from within an event it delivers.
using ICUiEventPump = void (*)(void* context);
// Installs the pump (null removes it).
void ICSetUiEventPump(ICUiEventPump pump, void* context);
// Calls the installed pump, if any.
void ICPumpUiEvents();
