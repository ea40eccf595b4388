// zstd's contexts, each owned once, and its error codes.
#pragma once

#include <memory>

#include <zstd.h>
#include <zstd_errors.h>

namespace qr {

struct ZstdDCtxFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
struct ZstdCCtxFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using ZstdDCtx = std::unique_ptr<ZSTD_DCtx, ZstdDCtxFree>;
using ZstdCCtx = std::unique_ptr<ZSTD_CCtx, ZstdCCtxFree>;

}  // namespace qr
