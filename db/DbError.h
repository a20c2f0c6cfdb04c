#pragma once

#include <QString>

#include "base/Error.h"

// What is wrong with the database file at path, in words the user can act on, followed by the engine's own text, and
// of which kind. engineCode is the engine's result code (primary or extended).
KivaroError databaseFailure(const QString& path, int engineCode, const QString& engineText);
