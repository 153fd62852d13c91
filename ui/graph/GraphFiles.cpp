// Spectrum files and printing.
#include "UGraph.h"

void TFGraph::NOpenClick() {}
void TFGraph::NSaveClick() {}
void TFGraph::NPrintClick() {}
