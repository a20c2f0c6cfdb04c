#pragma once

#include <QString>

// What is wrong with the database file at path, in words the user can act on, followed by the engine's own text.
// engineCode is the engine's result code (primary or extended).
QString databaseFailureText(const QString& path, int engineCode, const QString& engineText);
