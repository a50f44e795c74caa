#pragma once

#include <QString>
#include <QtTest>

#include <functional>

// Path of a generated test movie, e.g. media("movie.mp4").
QString media(const QString &name);

// Spins the event loop until condition holds or timeoutMs passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000);
