// Pointer gestures on the plot, the marker panels, the scale strips and the
// keyboard commands.
#include "UGraph.h"

void TFGraph::SpektrImageMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TFGraph::SpektrImageMouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {}
void TFGraph::SpektrImageMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TFGraph::SpektrImageDblClick() {}
void TFGraph::LMark1MouseDown(Qt::MouseButton) {}
void TFGraph::LMark2MouseDown(Qt::MouseButton) {}
void TFGraph::FormMouseMove(int, int) {}
void TFGraph::FormMouseDown(Qt::MouseButton, int, int) {}
void TFGraph::FormKeyDown(int, Qt::KeyboardModifiers) {}
