#pragma once
#include <string>

// The host object that owns the devices of one site controller. The devices
// only keep a weak reference to it.
class SMDController {
public:
  explicit SMDController(std::string name = "controller") : name_(std::move(name)) {}
  virtual ~SMDController();
  const std::string& Name() const { return name_; }

private:
  std::string name_;
};
