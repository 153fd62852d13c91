// The measurement menu: calibration points, peak measurement, nonlinearity.
#include "UGraph.h"

void TFGraph::NLeftPointClick() {}
void TFGraph::NRightPointClick() {}
void TFGraph::NMeasPeakClick() {}
void TFGraph::NDifNonLinClick() {}
void TFGraph::BEnergOKClick() {}
void TFGraph::BEnergCancelClick() {}
void TFGraph::Erri() {}
