#include "tools/synth/encode.h"

#include <lame/lame.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

void Encode_Mp3(const std::vector<float> &samples, int rate, int bitrate, const std::string &path)
{
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags *)> lame(lame_init(),
                                                                          lame_close);
    if (!lame)
        throw std::runtime_error("LAME could not be initialised");
    lame_set_num_channels(lame.get(), 2);
    lame_set_in_samplerate(lame.get(), rate);
    lame_set_out_samplerate(lame.get(), rate);
    lame_set_brate(lame.get(), bitrate);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_mode(lame.get(), JOINT_STEREO);
    lame_set_quality(lame.get(), 5);
    lame_set_bWriteVbrTag(lame.get(), 1);
    if (lame_init_params(lame.get()) < 0)
        throw std::runtime_error("LAME rejected the encoder settings");

    std::string temp = path + ".part";
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(temp.c_str(), "wb"), std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + temp);
    const int chunk = 1152 * 16;
    std::vector<unsigned char> buffer(chunk * 5 / 4 + 7200);
    size_t frames = samples.size() / 2;
    auto write = [&](int bytes) {
        if (bytes < 0)
            throw std::runtime_error("LAME failed while encoding");
        if (bytes > 0 && std::fwrite(buffer.data(), 1, (size_t)bytes, file.get()) != (size_t)bytes)
            throw std::runtime_error("cannot write " + temp);
    };
    for (size_t at = 0; at < frames; at += chunk) {
        int n = (int)std::min<size_t>(chunk, frames - at);
        write(lame_encode_buffer_interleaved_ieee_float(lame.get(), samples.data() + 2 * at, n,
                                                        buffer.data(), (int)buffer.size()));
    }
    write(lame_encode_flush(lame.get(), buffer.data(), (int)buffer.size()));

    // LAME left an empty first frame for the tag, to be filled now that the totals are known.
    size_t tag = lame_get_lametag_frame(lame.get(), buffer.data(), buffer.size());
    if (tag > buffer.size())
        throw std::runtime_error("LAME tag does not fit");
    if (tag > 0 && (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
                    std::fwrite(buffer.data(), 1, tag, file.get()) != tag))
        throw std::runtime_error("cannot write " + temp);
    if (std::fclose(file.release()) != 0)
        throw std::runtime_error("cannot write " + temp);
    std::filesystem::rename(temp, path);
}
