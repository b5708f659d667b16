// SPDX-License-Identifier: BSD-3-Clause
// A compressed member's header and payload as every restore, verification and fuzz target
// reads them, with the verdict on what follows the payload.
#pragma once

#include "codec_state.h"
#include "container.h"
#include "member_input.h"
#include "outcome.h"
#include "stream.h"

#include <cstdint>

namespace kpz {

// Reads the header of in, a compressed stream of length bytes, and checks that the
// payload can hold what it announces. For callers without files (the fuzz targets).
Outcome readCompressedHeader(Stream& in, uint64_t length, Header& header);

// Decodes the payload of in, whose header has been read, into sink (exactly the stored
// size), with the state's decoder reset first and its hooks run at every flush; then
// judges what follows the payload as every restore does (its check trailer, another
// member, other bytes). produced receives the bytes the decoder made (the last block may
// pass the stored size).
Outcome decodePayload(CodecState& s, MemberInput& in, const Header& header, Stream& sink,
                      uint16_t passwordCode, MemberEnd& end, uint64_t* produced = nullptr);

} // namespace kpz
