// The front end's constant texts and record templates: everything it writes, exactly.
#pragma once

#include <string_view>

#include "services/record_template.h"

namespace pageout::frontend {

using services::Begin;
using services::Column;
using services::Element;
using services::End;
using services::HoldMark;
using services::Literal;
using services::RecordBreak;
using services::RightMove;
using services::TextField;

// --- List-line items --------------------------------------------------------------------------
inline constexpr std::string_view kBlankItem = " ";
inline constexpr std::string_view kFileNameError = "ERROR ON FILENAME INPUT!  TRY AGAIN.";
inline constexpr std::string_view kLegendYes = "     <Enter> for yes";
inline constexpr std::string_view kLegendNo = "     <N> for no";
inline constexpr std::string_view kLegendQuit = "     <Q> to quit";
inline constexpr std::string_view kFarewell = "EXITING PROGRAM";

// --- Banner -----------------------------------------------------------------------------------
inline constexpr std::string_view kRule =
    "==========================================================================";
inline constexpr std::string_view kUsageHead =
    " EXECUTE THE\" PROGRAM BY TYPING -  PAGEOUT 'FILENAME' - THE";
inline constexpr std::string_view kUsageTail = " DEFAULTS ARE: ";
inline constexpr std::string_view kDefaultPdf =
    " 1: PDF FILE CREATION FOR VIEWING & PRINTING TO ANY PRINTER";
inline constexpr std::string_view kDefaultLandscape = " 2: LANDSCAPE WITH A MAXIMUM OF 132 COLUMNS";

static_assert(kRule.size() == 74 && kUsageHead.size() == 59 && kUsageTail.size() == 15);
static_assert(kDefaultPdf.size() == 59 && kDefaultLandscape.size() == 43);

// Two empty records: the move alone does not extend the first.
inline constexpr Element kBlankLinesTemplate[] = {Begin(), RightMove(1), RecordBreak(), End()};

// One record per line below.
// clang-format off
inline constexpr Element kBannerTemplate[] = {
    Begin(),
    Literal(kRule), RecordBreak(),
    Literal(kUsageHead), Literal(kUsageTail), RecordBreak(),
    Column(7), Literal(kDefaultPdf), RecordBreak(),
    Column(7), Literal(kDefaultLandscape), RecordBreak(),
    Literal(kRule), RecordBreak(),
    RecordBreak(),
    RecordBreak(),
    End(),
};
// clang-format on

// --- Prompts and reads ------------------------------------------------------------------------
inline constexpr std::string_view kFileNamePromptText = " Name of file to be printed: ";
inline constexpr std::string_view kLandscapeQuestionText = " Landscape, 132 columns maximum? ";
inline constexpr std::string_view kPortrait132QuestionText = " Portrait, 132 columns maximum? ";
inline constexpr std::string_view kPortrait80QuestionText = " Portrait, 80 columns maximum? ";

static_assert(kFileNamePromptText.size() == 29 && kLandscapeQuestionText.size() == 33);
static_assert(kPortrait132QuestionText.size() == 32 && kPortrait80QuestionText.size() == 31);

inline constexpr Element kFileNamePrompt[] = {Begin(), Literal(kFileNamePromptText), HoldMark(),
                                              End()};
inline constexpr Element kLandscapeQuestion[] = {Begin(), Literal(kLandscapeQuestionText),
                                                 HoldMark(), End()};
inline constexpr Element kPortrait132Question[] = {Begin(), Literal(kPortrait132QuestionText),
                                                   HoldMark(), End()};
inline constexpr Element kPortrait80Question[] = {Begin(), Literal(kPortrait80QuestionText),
                                                  HoldMark(), End()};

// One text field as wide as the field it is given: the file-name field or the answer field.
inline constexpr Element kFieldRead[] = {Begin(), TextField(), End()};

// --- Converter run ----------------------------------------------------------------------------
inline constexpr std::string_view kRedirection = " > OT.PDF";
// The viewer command opens OT.PDF with the application the system associates with PDF files:
// on Win32 the interpreter does that for the bare name; elsewhere the desktop's opener is named.
inline constexpr std::string_view kViewerCommandWindows = "OT.PDF";
inline constexpr std::string_view kViewerCommandLinux = "xdg-open OT.PDF";
inline constexpr std::string_view kViewerCommandMac = "open OT.PDF";

}  // namespace pageout::frontend
