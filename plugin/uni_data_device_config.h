#pragma once
// Configuration loading of UniDataDevice.
// Not built yet: the host's default stands.

template <class Data, class Base, unsigned DataId>
int UniDataDevice<Data, Base, DataId>::InitSetting(const Json::Value& config) {
  return Base::InitSetting(config);
}
