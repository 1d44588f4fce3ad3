#pragma once
// Round completion and cache loading of UniDataDevice.
// Not built yet: the host's defaults stand.

template <class Data, class Base, unsigned DataId>
bool UniDataDevice<Data, Base, DataId>::LoadFromCache(const unsigned char* data, int length) {
  return Base::LoadFromCache(data, length);
}

template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::RoundDone() {
  Base::RoundDone();
}
