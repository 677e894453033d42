#include "update/package_info.h"

namespace kestrane {

PackageInfo g_packageInfo;

const char kProgramName[] = "Kestrane";
const char kTitleRussian[] = "Обновление программы \"Кестрейн\"";
const char kTitleEnglish[] = "Kestrane update";
const char kPackageDescription[] = "\"Звуковые комментарии к выходу из программы\" версии ";

PackageInfo MakePackageInfo(const std::string& resource_name, const std::string& resource_type,
                            int version, bool guarded) {
  PackageInfo info;
  info.ResourceName = resource_name;
  info.ResourceType = resource_type;
  info.PackageVersion = version;
  info.PackageDescription = kPackageDescription;
  info.Guarded = guarded;
  info.ProgramName = kProgramName;
  info.TitleRussian = kTitleRussian;
  info.TitleEnglish = kTitleEnglish;
  info.PayloadFileName = info.ResourceName + "." + info.ResourceType;
  info.VersionText = std::to_string(info.PackageVersion);
  info.PackageCaption = info.PackageDescription + info.VersionText;
  return info;
}

}  // namespace kestrane
