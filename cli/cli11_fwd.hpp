// Declarations of the CLI11 classes that the tool's headers name, so that
// they need not include all of CLI11.
#pragma once

namespace CLI {
class App;
class Option;
}  // namespace CLI
