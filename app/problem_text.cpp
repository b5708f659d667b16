// SPDX-License-Identifier: BSD-3-Clause
// The window program's words for what stopped a file: one case for each problem, with no
// catch-all, so that a new problem does not build until it has its words here.
#include "problem_text.h"

#include "messages.h"

QString problemText(const kpz::Outcome& outcome, bool passwordOn, const QString& otherFile) {
    using kpz::Problem;
    switch (outcome.problem) {
    case Problem::None:
    case Problem::Cancelled:
        return {};
    case Problem::OpenSource:
    case Problem::SourceIsFolder:
    case Problem::SourceNotRegular:
        return kpz::msg::kOpenSourceFailed;
    case Problem::SourceRead:
    case Problem::SizeChanged:
    case Problem::SpoolFailed:
        return kpz::msg::kSourceReadError;
    case Problem::TooLarge:
        return kpz::msg::kTooLarge;
    case Problem::NameTooLong:
        return kpz::msg::kNameTooLong;
    case Problem::UnknownFormat:
        return kpz::msg::kUnknownFormat;
    case Problem::Damaged:
    case Problem::CheckMismatch:
        // Scrambled with the wrong code, a payload almost always ends in the wrong place,
        // and never matches its check value.
        return passwordOn ? kpz::msg::kWrongPasswordOrDamaged : kpz::msg::kDamaged;
    case Problem::PasswordNeeded:
        // The window asks for every password, so only a file read without its prompt
        // gets here.
        return kpz::msg::kWrongPasswordOrDamaged;
    case Problem::VerifyMismatch:
    case Problem::VerifyHeader:
    case Problem::NotProven:
    case Problem::MoreMembers:
        return kpz::msg::kDamaged;
    case Problem::SourceChanged:
    case Problem::SourceHoldsMore:
    case Problem::RemoveFailed:
        return kpz::msg::kOpenSourceFailed;
    case Problem::StepOutOfOrder:
        return kpz::msg::kWriteFailed;
    case Problem::SameFile:
    case Problem::OutputIsInput:
        return kpz::msg::kSameFile;
    case Problem::OutputClaimed:
        return kpz::msg::kAlreadyWrittenFrom + otherFile + "'!";
    case Problem::NoUsableName:
    case Problem::OutputIsFolder:
    case Problem::OutputIsSpecial:
    case Problem::OutputExists:
    case Problem::OutputAppeared:
    case Problem::OpenDestination:
        return kpz::msg::kOpenDestinationFailed;
    case Problem::WriteFailed:
    case Problem::CommitFailed:
    case Problem::OutputUnsure:
        return kpz::msg::kWriteFailed;
    }
    return {};
}
