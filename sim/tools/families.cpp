#include "families.h"

#include <cstdlib>
#include <cstring>

namespace dapsession::tool {

const std::vector<Family> kFamilies = {
    // shrtreca runs beside either: it says nothing about the leading record.
    {"sweep", {"shrtrecb"}, {{"lead", "col", "v:671i16", 2}, {"sweep", "col", "v:8i16", 1000}}, {}},
    {"sweep", {"shrtrecc"}, {{"sweep", "col", "v:8i16", 1000}}, {}},
    {"offset", {"offseta", "offsetb"}, {{"offset", nullptr, "a:i16 b:i16", 0}}, {}},
    {"marathon", {"recorda", "recordb"}, {{"block", "n", "v:500i16", 0}}, {}},
    {"tandem",
     {"echreadc", "echreadd"},
     {{"reply", nullptr, "w:3i16", 0}},
     {{"sent", nullptr, "w:3x16", 0}}},
    {"gate", {"recthrsha", "recthrshb"}, {{"gate", nullptr, "peak:i16 width:i16 n:i16", 0}}, {}},
    {"spike", {"spikera", "spikerb"}, {{"spike", nullptr, "ch:i16 t:u32 wave:20i16", 0}}, {}},
    {"smart", {"smarta", "smartb"}, {{"smart", nullptr, "ch:i16 t:u32 v1:u32 v2:i16", 0}}, {}},
    {"event",
     {"stimrespa", "stimrespb"},
     {{"event", nullptr, "ch:i16 t:u32 v1:i16 v2:i16", 0}},
     {{"table", nullptr, "v:502i16", 0}}},
};

const Family *family_of(const std::vector<std::string> &tasks) {
  for (const Family &f : kFamilies)
    for (const std::string &task : tasks)
      for (const std::string &name : f.tasks)
        if (task == name)
          return &f;
  return nullptr;
}

std::vector<Field> parse_fields(const char *layout) {
  std::vector<Field> fields;
  for (const char *p = layout; *p != '\0';) {
    const char *colon = std::strchr(p, ':');
    Field f{std::string(p, colon), 'i', 1};
    char *type = nullptr;
    const long count = std::strtol(colon + 1, &type, 10);
    if (type != colon + 1)
      f.count = static_cast<int>(count);
    f.type = *type;
    fields.push_back(f);
    p = type + 3;
    while (*p == ' ')
      ++p;
  }
  return fields;
}

} // namespace dapsession::tool
