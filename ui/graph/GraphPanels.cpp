// The exposure time panel and the front-end control panels.
#include "UGraph.h"

void TFGraph::MTimeClick() {}
void TFGraph::BOKTimeClick() {}
void TFGraph::BCenselTimeClick() {}
void TFGraph::NDrivingClick() {}
void TFGraph::NShiftClick() {}
void TFGraph::BShiftOKClick() {}
void TFGraph::BShiftCanselClick() {}
void TFGraph::NFormirClick() {}
void TFGraph::BFormPulsOKClick() {}
void TFGraph::BFormPulsCanselClick() {}
