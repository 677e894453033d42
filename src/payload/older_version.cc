#include "payload/older_version.h"

#include "language/language_files.h"
#include "language/placeholders.h"
#include "payload/version_compare.h"
#include "startup/messages.h"
#include "startup/startup_settings.h"
#include "startup/ascii_case.h"

namespace kestrane {

VersionKind VersionKindOf(const std::string& resource_type) {
  const std::string type = LowerAsciiLetters(resource_type);
  if (type == "exe") return VersionKind::kExecutable;
  if (type == "pak") return VersionKind::kPak;
  if (type == "3bs") return VersionKind::k3bs;
  if (type == "cok") return VersionKind::kCok;
  if (type == "lng") return VersionKind::kLng;
  return VersionKind::kNone;
}

bool ComparesVersions(VersionKind kind, const std::u16string& target) {
  if (kind == VersionKind::kNone) return false;
  // A language file whose path carries "!" anywhere is replaced without looking at versions.
  return !(kind == VersionKind::kLng && target.find(u'!') != std::u16string::npos);
}

bool IsOlderFile(VersionKind kind, const FileVersion& new_version, const FileVersion& existing) {
  switch (kind) {
    case VersionKind::kNone:
      return false;
    case VersionKind::kExecutable:
      // An existing executable without a version text cannot be shown to be newer.
      return !existing.text.empty() && existing.text != new_version.text &&
             IsVersionOlder(new_version.text, existing.text);
    case VersionKind::kPak:
    case VersionKind::k3bs:
    case VersionKind::kCok:
    case VersionKind::kLng:
      return existing.number > new_version.number;
  }
  return false;
}

std::string VersionForQuestion(VersionKind kind, const FileVersion& version) {
  if (kind == VersionKind::kExecutable) return version.text;
  return std::to_string(version.number);
}

OlderQuestion BuiltInOlderQuestion(bool russian, const std::u16string& target,
                                   const std::string& existing_version,
                                   const std::string& new_version) {
  const MessageText path = MessageText::Wide(target);
  if (russian) {
    return {"Резонный вопрос",
            "Устанавливаемый файл " + path +
                MessageText::Program("\r\nболее старой версии, чем уже установленный.\r\n\r\n"
                                     "Действительно ли Вы хотите заменить уже имеющийся\r\n"
                                     "файл версии " +
                                     existing_version + " на более старый версии " + new_version +
                                     "?")};
  }
  return {"Sound question",
          path + MessageText::Program(" file installing is of older version\r\n"
                                      "than the same already installed.\r\n\r\n"
                                      "Do you really want to replace existing\r\n"
                                      "new file version " +
                                      existing_version + " with an older file version " +
                                      new_version + "?")};
}

bool AskToReplaceWithOlder(const std::u16string& target, const std::string& existing_version,
                           const std::string& new_version) {
  const LanguageSupport& language = g_languageSupport;
  if (language.CurrentLanguageIndex < 0) {
    const bool russian = g_startupSettings.RussianUI;
    const OlderQuestion question =
        BuiltInOlderQuestion(russian, target, existing_version, new_version);
    return AskQuestion(question.text, question.caption, russian);
  }
  // The language files' text names only the target; the versions are not offered to it.
  // Filled as LanguageText fills it, with the path kept apart from the file's own text.
  const auto language_id = static_cast<uint16_t>(g_languageSupport.CurrentLanguageId & 0xFFFF);
  const MessageText caption = MessageText::Language(ReadOpenLanguageKey("soundquest"), language_id);
  const MessageText text = FillPlaceholders(
      MessageText::Language(ReadOpenLanguageKeyLines("olderfilever", false), language_id),
      {MessageText::Wide(target)});
  return AskQuestionInLanguage(text, caption, language_id);
}

}  // namespace kestrane
