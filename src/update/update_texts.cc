#include "update/update_texts.h"

namespace kestrane {

const BilingualText kNoRightsText = {
    "You have no right to install applications!",
    "У Вас нет права устанавливать программы!",
};

const BilingualText kHostNotInstalledText = {
    "There's no subject of update - the Kestrane installed.\r\n"
    "Please, install the program at first.",
    "Нет предмета обновления - установленной программы \"Кестрейн\".\r\n"
    "Пожалуйста, сначала установите программу.",
};

std::string InstallQuestionText(const PackageInfo& info, bool russian) {
  if (russian) {
    return "Вы действительно хотите установить\r\n" + info.TitleRussian + " -\r\n" +
           info.PackageCaption + "?";
  }
  return "Would you like to setup\r\n" + info.TitleEnglish + " -\r\n" + info.PackageCaption + "?";
}

const char* InstallQuestionCaption(bool russian) {
  return russian ? "Резонный вопрос" : "Sound question";
}

std::string FinishQuestionText(const PackageInfo& info) {
  return "На Ваш компьютер установлено\r\n" + info.TitleRussian + " -\r\n" + info.PackageCaption +
         "\r\n\r\nЗапустить программу?";
}

}  // namespace kestrane
