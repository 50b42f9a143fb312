// PAGEOUT: turns a text file into OT.PDF in one of three page layouts and opens it.
//
// One procedure over three static fields. The traceback report names this routine "_MAIN__" and
// gives the source line of each of its calls, so every field read stands on a line of its own.
#include "frontend/pageout.h"

#include <array>
#include <cstdint>

#include "diagnostics/exit_status.h"
#include "frontend/compose.h"
#include "frontend/layouts.h"
#include "frontend/literals.h"
#include "platform/os.h"
#include "services/arguments.h"
#include "services/command.h"
#include "services/console.h"
#include "services/existence.h"
#include "services/fixed_field.h"

namespace pageout::frontend {
namespace {

std::array<char, kFileNameSize> file_name;   // the name of the text file
std::array<char, kCommandCapacity> command;  // the converter command under composition
std::array<char, 1> answer;                  // the reply to a layout question
std::int16_t argument_status;                // argument 1's length, then the existence status

}  // namespace

void Pageout(platform::Os& os, const std::vector<std::string>& arguments) {
  using services::ReadField;
  using services::WriteListLine;
  using services::WriteRecords;

  WriteListLine(os, kBlankItem);
  WriteRecords(os, kBlankLinesTemplate);
  WriteRecords(os, kBannerTemplate);

  // An argument of 32768 characters or more still counts as one: the status saturates. (Written
  // without library templates, whose inlined lines would belong to their headers, not to this
  // routine's source.)
  const std::int32_t argument_length = services::FetchArgument(arguments, 1, file_name);
  argument_status = static_cast<std::int16_t>(argument_length > 32767 ? 32767 : argument_length);

  const Layout* layout = &kLandscape132;
  if (argument_status < 0 || services::IsBlank(services::View(file_name))) {
    for (;;) {
      WriteRecords(os, kFileNamePrompt);
      ReadField(os, kFieldRead, file_name);
      const services::Existence existence = services::TestExistence(os, services::View(file_name));
      argument_status = existence.status;
      if (!services::IsBlank(services::View(file_name)) && argument_status >= 0 &&
          existence.exists != 0) {
        break;
      }
      WriteListLine(os, kBlankItem);
      WriteListLine(os, kFileNameError);
      WriteListLine(os, kBlankItem);
    }

    WriteListLine(os, kBlankItem);
    WriteListLine(os, kLegendYes);
    WriteListLine(os, kLegendNo);
    WriteListLine(os, kLegendQuit);
    WriteListLine(os, kBlankItem);

    // The questions follow the layout table; three no answers bring back the first one.
    for (std::size_t question = 0;; question = (question + 1) % std::size(kLayouts)) {
      WriteRecords(os, kLayouts[question].question);
      ReadField(os, kFieldRead, answer);
      const Answer reply = ClassifyAnswer(answer[0]);
      if (reply == Answer::kYes) {
        layout = &kLayouts[question];
        break;
      }
      if (reply == Answer::kQuit) {
        WriteListLine(os, kBlankItem);
        WriteListLine(os, kFarewell);
        WriteListLine(os, kBlankItem);
        services::CloseChannels();
        os.Exit(diagnostics::ToInt(diagnostics::ExitStatus::kNormal));
      }
      if (question == 0) WriteListLine(os, kBlankItem);
    }
  }

  const std::size_t width = ComposeConverterCommand(os.host(), *layout, file_name, command);
  services::ExecuteCommand(os, services::View(std::span(command).first(width)));
  services::ExecuteCommand(os, ViewerCommand(os.host()));

  services::CloseChannels();
  os.Exit(diagnostics::ToInt(diagnostics::ExitStatus::kNormal));
}

}  // namespace pageout::frontend
