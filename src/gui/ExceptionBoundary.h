// The one guard at every place where the window system calls us back (window procedures,
// timer ticks, form events): no exception may cross into the system's code, so each is caught
// here and handed to the handler the application installed.
#pragma once
#include <exception>
#include <string>

// Where a caught exception goes (null E: not a std::exception). Until one is installed, or
// after it is removed with null, caught exceptions are dropped.
using TBoundaryHandler = void (*)(const std::exception* E);
void SetBoundaryHandler(TBoundaryHandler Handler);
void HandleAtBoundary(const std::exception* E);

// Runs Body; whatever it throws goes to the installed handler instead of to the caller.
template <class F>
void GuardBoundary(F&& Body) {
  try {
    Body();
  } catch (const std::exception& e) {
    HandleAtBoundary(&e);
  } catch (...) {
    HandleAtBoundary(nullptr);
  }
}

// The text of an exception for the user: its what() read as UTF-8, or Fallback when it has
// none (or E is null).
std::wstring ExceptionText(const std::exception* E, const std::wstring& Fallback);
