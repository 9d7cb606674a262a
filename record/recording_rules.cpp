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

AudioTrackFormat RecordingAudioTrackFormat(const MicrophoneFormat& microphone)
{
    const uint32_t rate = microphone.samplesPerSecond, channels = microphone.channels;
    const bool usable = microphone.pcm && microphone.bitsPerSample == 16 && (rate == 44100 || rate == 48000) &&
                        (channels == 1 || channels == 2 || channels == 6);
    if (!usable) return AudioTrackFormat{false, 0, 0, 0};
    // The encoder's lowest bit rate; six channels take six times the bytes of a mono or stereo stream.
    return AudioTrackFormat{true, rate, channels, channels == 6 ? 72000u : 12000u};
}

int64_t RecordingSoundDuration(uint32_t bytes, const AudioTrackFormat& format)
{
    const uint64_t frameBytes = static_cast<uint64_t>(format.channels) * 2;
    if (frameBytes == 0 || format.samplesPerSecond == 0) return 0;
    return static_cast<int64_t>(bytes / frameBytes * 10'000'000 / format.samplesPerSecond);
}

SoundGap SoundLineGap(const SoundLine& line, int64_t time)
{
    const bool told = line.ticked >= 0;
    if (!told && (!line.started || time - line.next <= RECORDING_SOUND_GAP_TOLERANCE)) return SoundGap{false, 0, 0};
    const int64_t first = told ? line.ticked + RECORDING_SOUND_TICK_SPACING : line.next;
    const int64_t ticks = time > first ? (time - first + RECORDING_SOUND_TICK_SPACING - 1) / RECORDING_SOUND_TICK_SPACING : 0;
    return SoundGap{true, first, static_cast<int32_t>(std::min<int64_t>(ticks, RECORDING_SOUND_TICKS_MAX))};
}

void SoundLineWritten(SoundLine& line, int64_t time, int64_t duration)
{
    line = SoundLine{true, time + std::max<int64_t>(duration, 0), -1};
}

bool SoundLineTickDue(SoundLine& line, int64_t pictureTime, int64_t* tick)
{
    const int64_t due = line.ticked >= 0 ? line.ticked + RECORDING_SOUND_TICK_SPACING : line.next;
    if (pictureTime - due <= RECORDING_SOUND_TICK_SPACING) return false;
    line.ticked = *tick = due;
    return true;
}

bool RecordingFailureIsDrive(uint32_t code)
{
    constexpr uint32_t FACILITY_STORAGE_ERRORS = 3, FACILITY_SYSTEM_ERRORS = 7;  // STG_E_*, HRESULT_FROM_WIN32
    const uint32_t facility = (code >> 16) & 0x1FFF;
    return (code & 0x80000000u) && (facility == FACILITY_SYSTEM_ERRORS || facility == FACILITY_STORAGE_ERRORS);
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
