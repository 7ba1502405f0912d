// Multiplex timeline and ready-made scenarios.
//
// Time runs with the packet index: at mux_mbps every packet lasts 188 * 8 /
// rate seconds. Each packet slot goes to the first table that is due (PAT,
// PMTs, CAT, NIT, SDT, EIT, TOT, PCR, ECM, EMM, data, in that order), else to
// the elementary stream whose oldest queued PES is the most urgent, else to a
// null packet. Frames are queued when their time comes: video 29.97 frames/s
// (3003 ticks), AAC 1024 samples at 48 kHz (1920 ticks).
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

namespace synth {

namespace {

constexpr uint64_t kFrameTicks = 3003;
constexpr uint64_t kAudioTicks = 1920;
constexpr uint64_t kDecoderDelay = 45000;  // PTS/DTS run 0.5 s ahead of the PCR

enum class Kind { Pat, Pmt, Cat, Nit, Sdt, EitPresent, EitFollowing, Tot, Pcr, Ecm, Emm, Data };

struct Table {
    Kind kind;
    uint16_t id;       // service id, PID ... (what tells tables of one kind apart)
    uint16_t pid;
    double interval;   // packets
    double next_due;
    Bytes section;     // empty for tables built when sent (TOT, PCR)
};

struct QueuedPes {
    Bytes bytes;
    double due;
    bool pcr;          // PCR in the adaptation field of the first packet
};

struct Es {
    bool video = true;
    VideoSource v;
    AudioSource a;
    uint64_t frame = 0;
    double next_due = 0;
    std::deque<QueuedPes> queue;
    size_t offset = 0;
    bool retiring = false;
};

}  // namespace

struct Generator::State {
    double pps = 0;  // packets per second
    uint64_t k = 0;  // packets built by this generator
    size_t next_change = 0;
    std::vector<Table> tables;
    std::vector<Es> es;
    std::map<uint16_t, std::pair<uint16_t, JstTime>> events;  // service -> (event id, start)
    Rng rng{1};

    double ticks_to_packets(uint64_t ticks) const { return double(ticks) / 90000.0 * pps; }
};

Generator::Generator(Multiplex m, Mux& mux, std::vector<TimedChange> changes)
    : m_(std::move(m)), mux_(mux), changes_(std::move(changes)), st_(std::make_unique<State>()) {
    std::stable_sort(changes_.begin(), changes_.end(),
                     [](const TimedChange& a, const TimedChange& b) { return a.at_packet < b.at_packet; });
    st_->pps = packets_per_second();
    st_->rng = Rng(m_.seed);
}

Generator::~Generator() = default;

double Generator::packets_per_second() const { return m_.mux_mbps * 1e6 / (188.0 * 8.0); }

namespace {

JstTime time_at(const Multiplex& m, double seconds) { return add_seconds(m.start_time, int64_t(seconds)); }

std::vector<Table> build_tables(const Multiplex& m, const std::map<uint16_t, std::pair<uint16_t, JstTime>>& events,
                                double pps) {
    auto every = [&](int ms) { return ms <= 0 ? -1.0 : ms / 1000.0 * pps; };
    std::vector<Table> t;
    std::vector<PatEntry> entries;
    if (m.network_entry) entries.push_back({0, kPidNit});
    for (const auto& s : m.services) entries.push_back({s.service_id, s.pmt_pid});
    t.push_back({Kind::Pat, 0, kPidPat, every(m.pat_ms), 0, pat_section(m.network.transport_stream_id, entries)});
    for (const auto& s : m.services)
        t.push_back({Kind::Pmt, s.pmt_pid, s.pmt_pid, every(m.pmt_ms), 0, pmt_section(s)});
    if (!m.emm_pids.empty() || m.cat_ms > 0) t.push_back({Kind::Cat, 0, kPidCat, every(m.cat_ms), 0, cat_section(m.emm_pids)});
    t.push_back({Kind::Nit, 0, kPidNit, every(m.nit_ms), 0, nit_section(m.network, m.services)});
    t.push_back({Kind::Sdt, 0, kPidSdt, every(m.sdt_ms), 0, sdt_section(m.network, m.services)});
    for (const auto& s : m.services) {
        EitPf e;
        e.service_id = s.service_id;
        e.transport_stream_id = m.network.transport_stream_id;
        e.original_network_id = m.network.original_network_id;
        e.event_id = s.event_id;
        e.start = m.start_time;
        auto it = events.find(s.service_id);
        if (it != events.end() && it->second.first == s.event_id) e.start = it->second.second;
        e.name = s.name;
        t.push_back({Kind::EitPresent, s.service_id, kPidEit, every(m.eit_ms), 0, eit_pf_section(e)});
        e.section_number = 1;
        e.event_id = uint16_t(s.event_id + 1);
        e.start = add_seconds(e.start, e.duration_seconds);
        t.push_back({Kind::EitFollowing, s.service_id, kPidEit, every(m.eit_ms), 0, eit_pf_section(e)});
    }
    t.push_back({Kind::Tot, 0, kPidTot, every(m.tot_ms), 0, {}});
    for (uint16_t pid : m.pcr_pids) t.push_back({Kind::Pcr, pid, pid, every(m.pcr_ms), 0, {}});
    for (uint16_t pid : m.ecm_pids) {
        Bytes body(120);
        for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i * 7 + pid);
        t.push_back({Kind::Ecm, pid, pid, every(m.ecm_ms), 0, long_section(0x82, 0x0005, 0, 0, 0, body, true)});
    }
    for (uint16_t pid : m.emm_pids) {
        Bytes body(150);
        for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i * 13 + pid);
        t.push_back({Kind::Emm, pid, pid, every(m.emm_ms), 0, long_section(0x84, 0x0005, 0, 0, 0, body, true)});
    }
    for (uint16_t pid : m.data_pids) {
        Bytes body(160);
        for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i * 3 + pid);
        t.push_back({Kind::Data, pid, pid, every(m.data_ms), 0, long_section(0x3C, 0x0001, 0, 0, 0, body, false)});
    }
    t.erase(std::remove_if(t.begin(), t.end(), [](const Table& x) { return x.interval < 0; }), t.end());
    return t;
}

}  // namespace

void Generator::step() {
    State& s = *st_;
    const uint64_t k = s.k;
    bool first = k == 0 && s.tables.empty();

    // Changes due now; tables whose content changed (and new ones) go out at
    // once. At the start everything is due, so the stream opens with PAT, PMTs.
    bool changed = false;
    while (s.next_change < changes_.size() && changes_[s.next_change].at_packet <= k) {
        std::map<uint16_t, uint16_t> before;
        for (const auto& sv : m_.services) before[sv.service_id] = sv.event_id;
        changes_[s.next_change++].apply(m_);
        for (const auto& sv : m_.services) {
            auto it = before.find(sv.service_id);
            if (it == before.end() || it->second != sv.event_id)
                s.events[sv.service_id] = {sv.event_id, time_at(m_, double(k) / s.pps)};
        }
        changed = true;
    }
    if (first || changed) {
        std::vector<Table> fresh = build_tables(m_, s.events, s.pps);
        for (auto& t : fresh) {
            t.next_due = double(k);
            for (const auto& old : s.tables) {
                if (old.kind == t.kind && old.id == t.id && old.section == t.section) t.next_due = old.next_due;
            }
        }
        s.tables = std::move(fresh);
        // Streams: keep the state of PIDs that stay, add new ones, let removed ones finish their queue.
        for (auto& e : s.es) e.retiring = true;
        auto adopt = [&](bool video, uint16_t pid, auto apply) {
            for (auto& e : s.es) {
                if (e.video == video && (video ? e.v.pid : e.a.pid) == pid) {
                    e.retiring = false;
                    apply(e);
                    return;
                }
            }
            Es e;
            e.video = video;
            apply(e);
            uint64_t step_ticks = video ? kFrameTicks : kAudioTicks;
            double t = double(k) / s.pps * 90000.0;
            e.frame = uint64_t(std::ceil(t / double(step_ticks)));
            e.next_due = s.ticks_to_packets(e.frame * step_ticks);
            s.es.push_back(std::move(e));
        };
        for (const auto& v : m_.videos) adopt(true, v.pid, [&](Es& e) { e.v = v; });
        for (const auto& a : m_.audios) adopt(false, a.pid, [&](Es& e) { e.a = a; });
    }

    // 1. Tables.
    for (auto& t : s.tables) {
        if (t.next_due > double(k)) continue;
        t.next_due = std::max(t.next_due + t.interval, double(k) + 1);
        double secs = double(k) / s.pps;
        switch (t.kind) {
        case Kind::Tot:
            mux_.tot(time_at(m_, secs));
            break;
        case Kind::Pcr: {
            uint64_t pcr27 = m_.first_pcr * 300 + uint64_t(double(k) * 188.0 * 8.0 * 27.0 / m_.mux_mbps);
            mux_.pcr(t.pid, pcr27 / 300, uint16_t(pcr27 % 300));
            break;
        }
        default:
            mux_.section(t.pid, t.section);
            break;
        }
        ++s.k;
        return;
    }

    // 2. Elementary streams: queue what is due, send the most urgent.
    for (auto& e : s.es) {
        while (!e.retiring && e.next_due <= double(k)) {
            QueuedPes q;
            q.due = e.next_due;
            if (e.video) {
                const VideoSource& v = e.v;
                int pos = int(e.frame % uint64_t(std::max(v.gop, 1)));
                VideoFrame f;
                f.type = pos == 0 ? Picture::I : (pos % 3 == 0 ? Picture::P : Picture::B);
                uint64_t base = m_.first_pcr + kDecoderDelay;
                uint64_t dts = base + e.frame * kFrameTicks;
                if (f.type == Picture::B) {
                    f.pts = dts;
                    f.temporal_reference = uint16_t(pos - 1);
                } else {
                    f.pts = dts + 3 * kFrameTicks;
                    f.dts = dts;
                    f.temporal_reference = uint16_t(pos + 2);
                }
                f.sequence_header = f.type == Picture::I;
                f.closed_gop = v.closed_gop;
                f.width = v.width;
                f.height = v.height;
                int n_p = (v.gop - 1) / 3, n_b = v.gop - 1 - n_p;
                double avg = v.mbps * 1e6 / 8.0 * kFrameTicks / 90000.0;
                double unit = avg * v.gop / (4.0 + 2.0 * n_p + 0.7 * n_b);
                double w = f.type == Picture::I ? 4.0 : f.type == Picture::P ? 2.0 : 0.7;
                double jitter = 0.9 + 0.2 * double(s.rng.below(1000)) / 1000.0;
                f.size = std::max<size_t>(64, size_t(unit * w * jitter));
                q.bytes = pes_packet(v.stream_id, video_es(f), f.pts, f.dts, true);
                q.pcr = v.pcr_in_video;
                e.next_due = s.ticks_to_packets((++e.frame) * kFrameTicks);
            } else {
                const AudioSource& a = e.a;
                AudioFrame f;
                f.pts = m_.first_pcr + kDecoderDelay + e.frame * kAudioTicks;
                f.channel_configuration = a.channel_configuration;
                for (const auto& [from, cc] : a.mode_changes)
                    if (e.frame >= from) f.channel_configuration = cc;
                f.size = std::max<size_t>(32, size_t(a.kbps * 1000.0 / 8.0 * 1024.0 / 48000.0));
                // The fullness must stay within PES_packet_length for the frame to count as valid.
                f.buffer_fullness = uint16_t(std::min<size_t>(0x100, f.size / 2));
                q.bytes = pes_packet(a.stream_id, adts_frame(f), f.pts, std::nullopt);
                q.pcr = false;
                e.next_due = s.ticks_to_packets((++e.frame) * kAudioTicks);
            }
            e.queue.push_back(std::move(q));
        }
    }
    Es* best = nullptr;
    for (auto& e : s.es) {
        if (e.queue.empty()) continue;
        if (!best || e.queue.front().due < best->queue.front().due) best = &e;
    }
    if (best) {
        QueuedPes& q = best->queue.front();
        uint16_t pid = best->video ? best->v.pid : best->a.pid;
        std::optional<Adaptation> af;
        if (q.pcr && best->offset == 0) {
            uint64_t pcr27 = m_.first_pcr * 300 + uint64_t(double(k) * 188.0 * 8.0 * 27.0 / m_.mux_mbps);
            af = Adaptation{.pcr_base = pcr27 / 300, .pcr_extension = uint16_t(pcr27 % 300)};
        }
        bool was = mux_.scramble_next;
        mux_.scramble_next = was || m_.scrambled;
        mux_.pes_step(pid, q.bytes, best->offset, af ? &*af : nullptr);
        mux_.scramble_next = was;
        if (best->offset >= q.bytes.size()) {
            best->queue.pop_front();
            best->offset = 0;
        }
        s.es.erase(std::remove_if(s.es.begin(), s.es.end(), [](const Es& e) { return e.retiring && e.queue.empty(); }),
                   s.es.end());
        ++s.k;
        return;
    }

    // 3. Nothing due: a null packet.
    mux_.null(1);
    ++s.k;
}

// ---------------------------------------------------------------------------
// Scenarios

namespace {

Service hd_service(uint16_t sid, uint16_t pmt) {
    return Service{.service_id = sid, .pmt_pid = pmt, .pcr_pid = 0x01FF, .program_descriptors = ca_descriptor(0x0901),
                   .streams = {{kStreamMpeg2Video, 0x0111, stream_identifier_descriptor(0x00)},
                               {kStreamAdtsAac, 0x0112, stream_identifier_descriptor(0x10)},
                               {kStreamDataCarousel, 0x0140, stream_identifier_descriptor(0x40)}},
                   .name = "hd", .event_id = uint16_t(0x1000 + (sid & 0xF) * 0x100)};
}

std::vector<Service> sd_services(uint8_t version) {
    std::vector<Service> v;
    v.push_back({.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF, .version = version,
                 .program_descriptors = ca_descriptor(0x0901),
                 .streams = {{kStreamMpeg2Video, 0x0111}, {kStreamAdtsAac, 0x0112}, {kStreamDataCarousel, 0x0140}},
                 .name = "sd1", .event_id = 0x1000});
    v.push_back({.service_id = 0x0401, .pmt_pid = 0x01F1, .pcr_pid = 0x01FF, .version = version,
                 .program_descriptors = ca_descriptor(0x0901),
                 .streams = {{kStreamMpeg2Video, 0x0121}, {kStreamAdtsAac, 0x0112}},
                 .name = "sd2", .event_id = 0x1100});
    v.push_back({.service_id = 0x0402, .pmt_pid = 0x01F2, .pcr_pid = 0x02FF, .version = version,
                 .program_descriptors = ca_descriptor(0x0901),
                 .streams = {{kStreamMpeg2Video, 0x0131}, {kStreamAdtsAac, 0x0132}},
                 .name = "sd3", .event_id = 0x1200});
    return v;
}

void set_sd(Multiplex& m, uint8_t version) {
    m.services = sd_services(version);
    m.videos = {{.pid = 0x0111, .mbps = 4.5, .width = 720, .height = 480},
                {.pid = 0x0121, .mbps = 4.5, .width = 720, .height = 480},
                {.pid = 0x0131, .mbps = 4.5, .width = 720, .height = 480}};
    m.audios = {{.pid = 0x0112, .kbps = 256}, {.pid = 0x0132, .kbps = 192}};
    m.pcr_pids = {0x01FF, 0x02FF};
    add_oneseg(m, oneseg_service());
}

}  // namespace

Service oneseg_service(uint16_t service_id, uint16_t pmt_pid, uint16_t video_pid, uint16_t audio_pid) {
    return Service{.service_id = service_id, .pmt_pid = pmt_pid, .pcr_pid = 0x01FF,
                   .streams = {{kStreamAvc, video_pid, stream_identifier_descriptor(0x81)},
                               {kStreamAdtsAac, audio_pid, stream_identifier_descriptor(0x83)}},
                   .service_type = 0xC0, .name = "oneseg", .event_id = uint16_t(0x3000 + (service_id & 0xF) * 0x100)};
}

void add_oneseg(Multiplex& m, const Service& s) {
    m.services.push_back(s);
    for (const auto& st : s.streams) {
        bool video = st.stream_type == kStreamAvc || st.stream_type == kStreamMpeg2Video;
        bool audio = st.stream_type == kStreamAdtsAac;
        bool known = std::any_of(m.videos.begin(), m.videos.end(), [&](const VideoSource& v) { return v.pid == st.pid; }) ||
                     std::any_of(m.audios.begin(), m.audios.end(), [&](const AudioSource& a) { return a.pid == st.pid; });
        if (known) continue;
        if (video) m.videos.push_back({.pid = st.pid, .mbps = 0.25, .width = 320, .height = 180});
        if (audio) m.audios.push_back({.pid = st.pid, .kbps = 48});
    }
}

Multiplex hd_multiplex() {
    Multiplex m;
    m.network = {.transport_stream_id = 0x7FE8, .original_network_id = 0x7FE8, .network_id = 0x7FE8, .network_name = "terrestrial"};
    m.services = {hd_service(0x0400, 0x01F0), hd_service(0x0401, 0x01F1), hd_service(0x0402, 0x01F2)};
    m.videos = {{.pid = 0x0111, .mbps = 14.0}};
    m.audios = {{.pid = 0x0112, .kbps = 256}};
    m.pcr_pids = {0x01FF};
    m.ecm_pids = {0x0901};
    m.emm_pids = {0x0902};
    m.data_pids = {0x0140};
    add_oneseg(m, oneseg_service());
    return m;
}

Multiplex sd3_multiplex() {
    Multiplex m = hd_multiplex();
    set_sd(m, 0);
    return m;
}

Multiplex bs_multiplex() {
    Multiplex m;
    m.network = {.transport_stream_id = 0x4010, .original_network_id = 0x0004, .network_id = 0x0004, .network_name = "bs"};
    m.mux_mbps = 24.0;
    for (uint16_t i = 0; i < 2; ++i) {
        m.services.push_back({.service_id = uint16_t(101 + i), .pmt_pid = uint16_t(0x01F0 + i), .pcr_pid = 0x01FF,
                              .program_descriptors = ca_descriptor(0x0130),
                              .streams = {{kStreamMpeg2Video, 0x0100}, {kStreamAdtsAac, 0x0110}},
                              .name = "bs", .event_id = uint16_t(0x2000 + i * 0x100)});
    }
    m.videos = {{.pid = 0x0100, .mbps = 20.0, .width = 1920}};
    m.audios = {{.pid = 0x0110, .kbps = 256}};
    m.pcr_pids = {0x01FF};
    m.ecm_pids = {0x0130};
    m.emm_pids = {0x0131};
    return m;
}

Multiplex cs_multiplex() {
    Multiplex m;
    m.network = {.transport_stream_id = 0x7040, .original_network_id = 0x0007, .network_id = 0x0007, .network_name = "cs"};
    m.mux_mbps = 30.0;
    for (uint16_t i = 0; i < 3; ++i) {
        uint16_t video = uint16_t(0x0111 + i * 0x10), audio = uint16_t(0x0112 + i * 0x10);
        // PCR on the video PID: the PMT's PCR_PID is one of its elementary streams.
        m.services.push_back({.service_id = uint16_t(211 + i), .pmt_pid = uint16_t(0x01F0 + i), .pcr_pid = video,
                              .program_descriptors = ca_descriptor(0x0140),
                              .streams = {{kStreamMpeg2Video, video}, {kStreamAdtsAac, audio}},
                              .name = "cs", .event_id = uint16_t(0x4000 + i * 0x100)});
        m.videos.push_back({.pid = video, .mbps = 8.0, .pcr_in_video = true});
        m.audios.push_back({.pid = audio, .kbps = 192});
    }
    m.ecm_pids = {0x0140};
    m.emm_pids = {0x0141};
    return m;
}

Multiplex hierarchical_multiplex() {
    Multiplex m = hd_multiplex();
    for (auto& s : m.services) {
        if (s.pmt_pid == kPidOneSeg1) continue;
        s.streams[0].descriptors = hierarchical_descriptor(true, 0x0115);
        s.streams.insert(s.streams.begin() + 1, Stream{kStreamMpeg2Video, 0x0115, hierarchical_descriptor(false, 0x0111)});
    }
    m.videos.push_back({.pid = 0x0115, .mbps = 0.5, .width = 720, .height = 480});
    return m;
}

Multiplex null_multiplex(double null_share) {
    Multiplex m;
    m.services = {{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF,
                   .streams = {{kStreamMpeg2Video, 0x0111}, {kStreamAdtsAac, 0x0112}}}};
    double left = std::clamp(1.0 - null_share, 0.0, 1.0) * m.mux_mbps;
    m.videos = {{.pid = 0x0111, .mbps = std::max(0.05, left - 0.3)}};
    m.audios = {{.pid = 0x0112, .kbps = 192}};
    m.pcr_pids = {0x01FF};
    m.cat_ms = m.nit_ms = m.sdt_ms = m.eit_ms = m.tot_ms = 0;
    return m;
}

uint64_t packet_count(const Multiplex& m, const Config& c) {
    if (c.packets > 0) return c.packets;
    return uint64_t(std::llround(c.seconds * m.mux_mbps * 1e6 / (188.0 * 8.0)));
}

std::vector<Packet> generate(const Multiplex& m, const Config& c, std::vector<TimedChange> changes) {
    Multiplex mm = m;
    mm.seed = c.seed;
    uint64_t n = packet_count(mm, c);
    Mux mux;
    mux.packets.reserve(size_t(n) + 8);
    Generator g(std::move(mm), mux, std::move(changes));
    while (mux.count() < n) g.step();
    mux.packets.resize(size_t(n));
    return std::move(mux.packets);
}

bool write_file(const std::string& path, const Multiplex& m, const Config& c, Unit unit, std::vector<TimedChange> changes,
                const std::vector<std::pair<uint64_t, size_t>>& garbage_at) {
    Multiplex mm = m;
    mm.seed = c.seed;
    uint64_t n = packet_count(mm, c);
    FileWriter w(path, unit);
    if (!w.ok()) return false;
    uint64_t g_seed = c.seed * 7919;
    for (const auto& [offset, len] : garbage_at) w.insert_garbage_at(offset, len, g_seed++);
    uint64_t written = 0;
    Mux mux([&](const Packet& p) {
        if (written++ < n) w.put(p);
    });
    Generator g(std::move(mm), mux, std::move(changes));
    while (mux.count() < n) g.step();
    return w.close();
}

std::vector<Packet> hd(const Config& c) { return generate(hd_multiplex(), c); }
std::vector<Packet> sd3(const Config& c) { return generate(sd3_multiplex(), c); }
std::vector<Packet> bs(const Config& c) { return generate(bs_multiplex(), c); }
std::vector<Packet> cs(const Config& c) { return generate(cs_multiplex(), c); }
std::vector<Packet> hierarchical(const Config& c) { return generate(hierarchical_multiplex(), c); }

std::vector<TimedChange> hd_to_sd_changes(uint64_t switch_packet) {
    return {{switch_packet, [](Multiplex& m) { set_sd(m, 1); }}};
}

std::vector<Packet> hd_to_sd(uint64_t switch_packet, const Config& c) {
    return generate(hd_multiplex(), c, hd_to_sd_changes(switch_packet));
}

TimedChange event_change(uint64_t at_packet, uint16_t service_id, uint16_t new_event_id) {
    return {at_packet, [=](Multiplex& m) {
                for (auto& s : m.services)
                    if (s.service_id == service_id) s.event_id = new_event_id;
            }};
}

TimedChange pmt_version_change(uint64_t at_packet, uint16_t service_id, std::optional<uint16_t> new_video_pid) {
    return {at_packet, [=](Multiplex& m) {
                std::optional<uint16_t> old_video;
                for (auto& s : m.services) {
                    if (s.service_id != service_id) continue;
                    s.version = uint8_t((s.version + 1) & 0x1F);
                    for (const auto& st : s.streams)
                        if (st.stream_type == kStreamMpeg2Video || st.stream_type == kStreamAvc) { old_video = st.pid; break; }
                }
                if (!new_video_pid || !old_video) return;
                // The video PID changes in every service that shares it (one HD service under several ids).
                for (auto& s : m.services) {
                    bool touched = false;
                    for (auto& st : s.streams)
                        if (st.pid == *old_video) { st.pid = *new_video_pid; touched = true; }
                    if (s.pcr_pid == *old_video) s.pcr_pid = *new_video_pid;
                    if (touched && s.service_id != service_id) s.version = uint8_t((s.version + 1) & 0x1F);
                }
                for (auto& v : m.videos)
                    if (v.pid == *old_video) v.pid = *new_video_pid;
            }};
}

void audio_mode_change(Multiplex& m, uint16_t audio_pid, uint64_t from_frame, uint8_t channel_configuration) {
    for (auto& a : m.audios) {
        if (a.pid != audio_pid) continue;
        a.mode_changes.emplace_back(from_frame, channel_configuration);
        std::stable_sort(a.mode_changes.begin(), a.mode_changes.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
    }
}

}  // namespace synth
