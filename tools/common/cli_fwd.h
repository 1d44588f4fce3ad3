#pragma once
// The CLI11 types an option group's declaration names, without CLI11 itself.
namespace CLI {
class App;
class Option;
}  // namespace CLI
