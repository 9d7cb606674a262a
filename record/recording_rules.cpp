#include "record/recording_rules.h"

#include <algorithm>

bool RecordingSizeValid(int32_t width, int32_t height)
{
    return width >= 1 && width <= RECORDING_MAX_SIDE && height >= 1 && height <= RECORDING_MAX_SIDE;
}

uint32_t RecordingVideoBitrate(int32_t width)
{
    return width < 2560 ? 12'000'000u : 20'000'000u;
}

AudioTrackFormat RecordingAudioTrackFormat(bool rateKnown, uint32_t rate, bool channelsKnown, uint32_t channels)
{
    AudioTrackFormat format = {44100, 1};
    if (rateKnown && rate == 48000) format.samplesPerSecond = 48000;
    if (channelsKnown && channels >= 2) format.channels = 2;
    return format;
}

int64_t RecordingFrameDuration(int64_t lastTimestamp, int64_t timestamp)
{
    if (lastTimestamp >= 0 && lastTimestamp < timestamp) return timestamp - lastTimestamp;
    return RECORDING_DEFAULT_FRAME_DURATION;
}

bool VideoMailboxPut(VideoMailbox& box, const VideoPair& pair, VideoPair* displaced)
{
    const bool hadPair = box.pending;
    if (hadPair) *displaced = box.pair;
    box.pair = pair;
    box.pending = true;
    return hadPair;
}

bool VideoMailboxTake(VideoMailbox& box, VideoPair* out)
{
    if (!box.pending) return false;
    *out = box.pair;
    box.pair = VideoPair{};
    box.pending = false;
    return true;
}

void* AudioQueuePush(AudioQueue& queue, void* item, int64_t time, int64_t duration)
{
    if (duration <= 0)
        duration = queue.hasLast ? std::clamp<int64_t>(time - queue.lastTime, 0, RECORDING_AUDIO_GUESSED_DURATION_MAX) : 0;
    queue.lastTime = time;
    queue.hasLast = true;
    void* displaced = queue.count == RECORDING_AUDIO_QUEUE_CAPACITY ? AudioQueuePop(queue) : nullptr;
    queue.slots[(queue.head + queue.count) % RECORDING_AUDIO_QUEUE_CAPACITY] = {item, duration};
    queue.count++;
    queue.span += duration;
    return displaced;
}

void* AudioQueueTakeExcess(AudioQueue& queue)
{
    return queue.count > 1 && queue.span > RECORDING_AUDIO_QUEUE_SPAN ? AudioQueuePop(queue) : nullptr;
}

void* AudioQueuePop(AudioQueue& queue)
{
    if (queue.count <= 0) return nullptr;
    const AudioSlot slot = queue.slots[queue.head];
    queue.slots[queue.head] = AudioSlot{};
    queue.head = (queue.head + 1) % RECORDING_AUDIO_QUEUE_CAPACITY;
    queue.count--;
    queue.span -= slot.duration;
    return slot.item;
}

DropWarning DropCheck(DropWindow& window, double now, int32_t totalDrops)
{
    DropWarning result = {false, 0, 0};
    if (window.start == 0.0) {
        window = {now, 0, totalDrops, window.warned};
        return result;
    }
    if (now - window.start < RECORDING_DROP_WINDOW_SECONDS) return result;
    const int32_t drops = totalDrops - window.dropBase;
    if (!window.warned && drops > 0 && static_cast<int64_t>(drops) * 4 > window.written) {
        window.warned = true;
        result = {true, drops, window.written};
    }
    window = {now, 0, totalDrops, window.warned};
    return result;
}

bool EncoderBacklogFull(int64_t lastReceived, int64_t lastProcessed)
{
    return lastReceived - lastProcessed > RECORDING_ENCODER_BACKLOG_LIMIT;
}

void AudioQueueClear(AudioQueue& queue)
{
    queue.count = queue.head = 0;
    queue.span = 0;
    queue.hasLast = false;
}

bool NothingRecordedCheck(NothingRecordedWatch& watch, int64_t pictureTime, PictureOutcome outcome)
{
    if (outcome == PictureOutcome::NotTried) return false;
    if (outcome == PictureOutcome::Written) {
        watch.failing = false;
        return false;
    }
    if (!watch.failing) {
        watch.failing = true;
        watch.failingSince = pictureTime;
    }
    if (watch.fired || pictureTime - watch.failingSince < RECORDING_NOTHING_RECORDED_LIMIT) return false;
    watch.fired = true;
    return true;
}

double RecordingFramesPerSecond(int32_t frames, double elapsedSeconds)
{
    return elapsedSeconds > 0.5 ? frames / elapsedSeconds : 0.0;
}
