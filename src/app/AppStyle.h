#pragma once

class QApplication;

// The viewer's dark look, kept dim for eyes adapted to the night sky.
namespace appstyle
{
void apply(QApplication &app);
}
