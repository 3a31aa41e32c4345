#include "common/plan_entry.h"

#include "common/text_escape.h"

namespace twintone_cli {

void to_json(Json& entry, const PlanEntry& plan) {
  entry = Json{{"path_hex", HexBytes(plan.strPath)},
               {"rel_hex", HexBytes(plan.strRel)},
               {"size", plan.strSize},
               {"mtime_ns", plan.strModifiedNs},
               {"dev", plan.strDevice},
               {"ino", plan.strInode},
               {"role", plan.strRole}};
}

void from_json(const Json& entry, PlanEntry& plan) {
  ReadHexField(entry, "path", &plan.strPath, true);
  ReadHexField(entry, "rel", &plan.strRel);
  ReadField(entry, "size", &plan.strSize);
  ReadField(entry, "mtime_ns", &plan.strModifiedNs);
  ReadField(entry, "dev", &plan.strDevice);
  ReadField(entry, "ino", &plan.strInode);
  ReadField(entry, "role", &plan.strRole, true);
}

}  // namespace twintone_cli
