#pragma once
// What every transfer shares: the consumer of its chunks, how it ends when nothing failed,
// and how it learns that it should stop waiting.
#include <cstddef>
#include <functional>

namespace vantile {

// Hands each chunk of a body to the consumer; the consumer answers false to stop.
using ChunkConsumer = std::function<bool(const char* data, std::size_t size)>;

// How a transfer ended without a failure: the whole body was handed over, or the consumer
// (for a download, its observer) asked to stop before the end.
enum class TransferEnd { Complete, Stopped };

// Asked while a transfer waits for the network: true once the attempt should stop waiting (the
// user cancelled). An empty query never asks.
using StopQuery = std::function<bool()>;

}  // namespace vantile
