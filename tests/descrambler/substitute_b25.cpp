// Substitute descrambler library for tests, loaded by the program as B25Decoder.so. Never shipped:
// it only undoes the transform of substitute_transform.h.
//
// Behaviour is chosen per process through the environment, read when the factory runs:
//   SUBSTITUTE_B25_LOG=<path>  every call is appended to <path>, one line each (see log_line uses)
//   SUBSTITUTE_B25=<flags>     comma-separated:
//     basic           the object offers only the basic interface (no slots 5 and up)
//     init_fail       initialisation (slot 0) returns 0
//     null_factory    the factory returns no object
//     reject_every=N  every N-th descrambling call returns 0 (N = 1: all of them)
//     hold=N          output is held back and handed out every N-th call (output longer than input)
//     oversize        every call hands out 9 MiB of output
//     in_place        descrambles whole packets inside the caller's chunk and returns that chunk
//     emm=N           the EMM count reported through slot 19
// Built a second time with SUBSTITUTE_NO_FACTORY, without the factory export.
//
// Normal operation: packets are taken at 0x47 bytes, 188 bytes each; a packet cut by the end of a
// chunk is kept and completed by the next chunk, so outputs are shorter or longer than inputs. Bytes
// between packets pass through. Only 188-byte units are supported.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "substitute_transform.h"

// The interfaces as the library exports them; the program relies on the order of the operations
// (slot numbers in the comments), not on their names.
class IB25Decoder {
public:
    virtual int slot0_initialize(int argument) = 0;
    virtual void slot1_release() = 0;
    virtual int slot2_decode(const std::uint8_t* in, std::uint32_t in_length, std::uint8_t** out,
                             std::uint32_t* out_length) = 0;
    virtual int slot3_flush(std::uint8_t** out, std::uint32_t* out_length) = 0;
    virtual int slot4_reset() = 0;

protected:
    ~IB25Decoder() = default;
};

class IB25Decoder2 : public IB25Decoder {
public:
    virtual void slot5_setting(int flag) = 0;
    virtual void slot6_drop_undescramblable(int flag) = 0;
    virtual void slot7_emm_processing(int flag) = 0;
    virtual void slot8() = 0;
    virtual void slot9() = 0;
    virtual void slot10() = 0;
    virtual void slot11() = 0;
    virtual void slot12() = 0;
    virtual void slot13() = 0;
    virtual void slot14() = 0;
    virtual void slot15() = 0;
    virtual void slot16() = 0;
    virtual void slot17() = 0;
    virtual void slot18() = 0;
    virtual int slot19_emm_count() = 0;

protected:
    ~IB25Decoder2() = default;
};

namespace {

struct Config {
    bool basic = false;
    bool init_fail = false;
    bool null_factory = false;
    int reject_every = 0;
    int hold = 0;
    bool oversize = false;
    bool in_place = false;
    int emm = 0;
};

Config read_config() {
    Config c;
    const char* env = std::getenv("SUBSTITUTE_B25");
    std::string flags = env ? env : "";
    std::size_t at = 0;
    while (at <= flags.size()) {
        std::size_t comma = flags.find(',', at);
        if (comma == std::string::npos) comma = flags.size();
        const std::string flag = flags.substr(at, comma - at);
        auto value = [&](const char* key) { return std::atoi(flag.c_str() + std::strlen(key)); };
        if (flag == "basic") c.basic = true;
        else if (flag == "init_fail") c.init_fail = true;
        else if (flag == "null_factory") c.null_factory = true;
        else if (flag.rfind("reject_every=", 0) == 0) c.reject_every = value("reject_every=");
        else if (flag.rfind("hold=", 0) == 0) c.hold = value("hold=");
        else if (flag == "oversize") c.oversize = true;
        else if (flag == "in_place") c.in_place = true;
        else if (flag.rfind("emm=", 0) == 0) c.emm = value("emm=");
        at = comma + 1;
    }
    return c;
}

// The behaviour shared by both objects.
struct Engine {
    Config config;
    std::FILE* log = nullptr;
    int drop = 0;
    long calls = 0;
    std::vector<std::uint8_t> carry;   // an incomplete packet from the end of the last chunk
    std::vector<std::uint8_t> held;    // hold=N: output not yet handed out
    std::vector<std::uint8_t> output;  // what the last call handed out

    Engine() : config(read_config()) {
        if (const char* path = std::getenv("SUBSTITUTE_B25_LOG"); path && *path) log = std::fopen(path, "a");
        log_line("create");
    }

    void log_line(const char* format, long a = 0, long b = 0) {
        if (!log) return;
        std::fprintf(log, format, a, b);
        std::fputc('\n', log);
        std::fflush(log);
    }

    int initialize(int argument) {
        log_line("initialize %ld", argument);
        return config.init_fail ? 0 : 1;
    }

    void release() {
        log_line("release");
        if (log) std::fclose(log);
        log = nullptr;
    }

    int reset() {
        log_line("reset");
        carry.clear();
        held.clear();
        return 1;
    }

    // Descrambles the packets of [data, data + size) into `out`; returns the bytes consumed.
    std::size_t run_packets(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
        std::size_t pos = 0;
        while (pos < size) {
            if (data[pos] != 0x47) {
                out.push_back(data[pos++]);
                continue;
            }
            if (pos + substitute::kPacketSize > size) break;
            std::uint8_t packet[substitute::kPacketSize];
            std::memcpy(packet, data + pos, sizeof packet);
            const bool clear = substitute::descramble(packet);
            if (clear || !drop) out.insert(out.end(), packet, packet + sizeof packet);
            pos += substitute::kPacketSize;
        }
        return pos;
    }

    int decode(const std::uint8_t* in, std::uint32_t in_length, std::uint8_t** out, std::uint32_t* out_length) {
        ++calls;
        if (config.reject_every > 0 && calls % config.reject_every == 0) {
            log_line("decode %ld rejected", static_cast<long>(in_length));
            return 0;
        }
        if (config.oversize) {
            output.assign(9u * 1024u * 1024u, 0x47);
        } else if (config.in_place) {
            auto* chunk = const_cast<std::uint8_t*>(in);
            for (std::size_t pos = 0; pos + substitute::kPacketSize <= in_length; pos += substitute::kPacketSize)
                if (chunk[pos] == 0x47) substitute::descramble(chunk + pos);
            *out = chunk;
            *out_length = in_length;
            log_line("decode %ld -> %ld", static_cast<long>(in_length), static_cast<long>(in_length));
            return 1;
        } else {
            std::vector<std::uint8_t> data(carry);
            data.insert(data.end(), in, in + in_length);
            output.clear();
            const std::size_t used = run_packets(data.data(), data.size(), output);
            carry.assign(data.begin() + static_cast<std::ptrdiff_t>(used), data.end());
            if (config.hold > 0) {
                held.insert(held.end(), output.begin(), output.end());
                output.clear();
                if (calls % config.hold == 0) output.swap(held);
            }
        }
        *out = output.data();
        *out_length = static_cast<std::uint32_t>(output.size());
        log_line("decode %ld -> %ld", static_cast<long>(in_length), static_cast<long>(output.size()));
        return 1;
    }
};

// The five calls both interfaces share, over the same engine. The interfaces have no virtual
// destructor (their table layout is fixed), so release deletes the object as its own class.
template <class Interface, class Self>
class Common : public Interface {
public:
    int slot0_initialize(int argument) override { return engine.initialize(argument); }
    void slot1_release() override {
        engine.release();
        delete static_cast<Self*>(this);
    }
    int slot2_decode(const std::uint8_t* in, std::uint32_t n, std::uint8_t** out, std::uint32_t* out_n) override {
        return engine.decode(in, n, out, out_n);
    }
    int slot3_flush(std::uint8_t**, std::uint32_t*) override {
        engine.log_line("flush");
        return 0;
    }
    int slot4_reset() override { return engine.reset(); }
    Engine engine;
};

class Basic final : public Common<IB25Decoder, Basic> {};

class Extended final : public Common<IB25Decoder2, Extended> {
public:
    void slot5_setting(int flag) override { engine.log_line("setting_5 %ld", flag); }
    void slot6_drop_undescramblable(int flag) override {
        engine.log_line("drop %ld", flag);
        engine.drop = flag;
    }
    void slot7_emm_processing(int flag) override { engine.log_line("emm %ld", flag); }
    void slot8() override { engine.log_line("slot 8"); }
    void slot9() override { engine.log_line("slot 9"); }
    void slot10() override { engine.log_line("slot 10"); }
    void slot11() override { engine.log_line("slot 11"); }
    void slot12() override { engine.log_line("slot 12"); }
    void slot13() override { engine.log_line("slot 13"); }
    void slot14() override { engine.log_line("slot 14"); }
    void slot15() override { engine.log_line("slot 15"); }
    void slot16() override { engine.log_line("slot 16"); }
    void slot17() override { engine.log_line("slot 17"); }
    void slot18() override { engine.log_line("slot 18"); }
    int slot19_emm_count() override {
        engine.log_line("emm_count");
        return engine.config.emm;
    }
};

}  // namespace

#ifndef SUBSTITUTE_NO_FACTORY
extern "C" __attribute__((visibility("default"))) IB25Decoder* CreateB25Decoder() {
    const Config config = read_config();
    if (config.null_factory) return nullptr;
    if (config.basic) return new Basic;
    return new Extended;
}
#endif
