#pragma once

// The console runner: converts the current project once, without a window.
// Created empty at start-up (default constructor) and freed at program end.
class TpzMain {
public:
    TpzMain() = default;
    // The whole console run; returns when it is over.
    void Run();
};
