// The quickstart scenario kovahost runs without arguments: examples/quickstart.yaml, compiled in.
#ifndef KOVA_TOOLS_KOVAHOST_QUICKSTART_H
#define KOVA_TOOLS_KOVAHOST_QUICKSTART_H

namespace kovahost {

extern const char* const kQuickstartName;  // "quickstart.yaml"
extern const char* const kQuickstartText;

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_QUICKSTART_H
