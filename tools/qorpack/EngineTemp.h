// The engine compresses and extracts through temporary files of its own (in
// $TMPDIR, or the Windows temporary folder). This routes its file layer's
// temporary-name and remove calls through the tool's list of pending files,
// so an interrupted run removes those too.
#pragma once

namespace qorpack {

void TrackEngineTemporaryFiles();

}  // namespace qorpack
