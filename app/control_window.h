// The hidden control window through which other programs reach the
// supervisor, and its window procedure.
#pragma once

#include "platform/platform.h"

// WS_POPUP with the class-specific bit 0x100; the window is never shown.
constexpr DWORD CONTROL_WINDOW_STYLE = WS_POPUP | 0x00000100;

// Registers the class "DOZEWARD" and creates the top-level window of that
// class and title; stores the handle in supervisor.controlWindow.
HWND CreateControlWindow(HINSTANCE instance);

LRESULT CALLBACK ControlWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
