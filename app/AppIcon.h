#pragma once

#include <QIcon>

// The program's own icon, with a drawing for each size a desktop asks for (16 to 256 pixels).
QIcon kivaroIcon();
