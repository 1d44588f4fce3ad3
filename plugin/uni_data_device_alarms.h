#pragma once
// Threshold passes and the analog report check of UniDataDevice.
// Not built yet: they evaluate nothing.

template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::CheckSignalThresholdMap(kvrm::ThresholdMap&, bool) {}

template <class Data, class Base, unsigned DataId>
int UniDataDevice<Data, Base, DataId>::CheckAOReport(const std::string&, const std::string&, float) {
  return 0;
}
