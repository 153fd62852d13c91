// Where the controls of the spectrum window stand: one table, by object
// name, of every control's place in its parent, read as each control is made.
#pragma once

#include <QFont>

class QWidget;

// Places w as the table says for its object name: a whole rectangle, a
// fixed-size field, or a position with the size its content asks for.
void PlaceWidget(QWidget *w);

// The window font: the closest sans-serif to the original at a pixel size.
QFont WindowFont(int pixels, bool bold = false);
