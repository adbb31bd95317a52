"use strict";
// Reads a transport stream with the aribts library and prints, as JSON, what it decodes from
// the PAT, PMT, NIT, SDT, EIT, TOT, BIT and CDT: names, titles and descriptions as text.
// Usage: node aribts_dump.js FILE.ts OUTPUT.json

const fs = require("fs");
const path = require("path");
const aribts = require(path.join(__dirname, "node_modules", "aribts"));

const file = process.argv[2];
const outputFile = process.argv[3];
if (!file || !outputFile) {
    console.error("usage: node aribts_dump.js FILE.ts OUTPUT.json");
    process.exit(2);
}

const text = bytes => new aribts.TsChar(bytes).decode();
const pad = n => (n < 10 ? "0" : "") + n;
const time = bytes => {
    const date = new aribts.TsDate(bytes);
    const [y, mo, d] = date.decodeDate();
    const [h, mi, s] = date.decodeTime();
    return `${y}-${pad(mo)}-${pad(d)} ${pad(h)}:${pad(mi)}:${pad(s)}`;
};
const bcdSeconds = b => {
    const v = x => (x >> 4) * 10 + (x & 0x0F);
    return v(b[0]) * 3600 + v(b[1]) * 60 + v(b[2]);
};
const descriptors = list => list.decode().filter(d => d !== undefined).map(d => d.decode());

const out = {
    pat: null, pmts: {}, nit: null, sdt: {}, sdtOther: {}, events: {}, eitSections: [],
    tots: [], bit: null, cdt: []
};
const seen = new Set();

const parser = new aribts.TsSectionParser();
parser.on("pat", s => {
    const o = s.decode();
    out.pat = { transportStreamId: o.transport_stream_id,
                programs: o.programs.map(p => ({ number: p.program_number, pid: p.program_map_PID !== undefined ? p.program_map_PID : p.network_PID })) };
});
parser.on("pmt", s => {
    const o = s.decode();
    out.pmts[o.program_number] = {
        pcrPid: o.PCR_PID,
        streams: o.streams.map(st => {
            const tag = descriptors(st.ES_info).find(d => d.descriptor_tag === 0x52);
            return { type: st.stream_type, pid: st.elementary_PID,
                     componentTag: tag ? tag.component_tag : null };
        })
    };
});
parser.on("nit", s => {
    const o = s.decode();
    if (o.table_id !== 0x40) return;
    const name = descriptors(o.network_descriptors).find(d => d.descriptor_tag === 0x40);
    out.nit = {
        networkId: o.network_id,
        networkName: name ? text(name.network_name) : null,
        transportStreams: o.transport_streams.map(ts => {
            const ds = descriptors(ts.transport_descriptors);
            const info = ds.find(d => d.descriptor_tag === 0xCD);
            const list = ds.find(d => d.descriptor_tag === 0x41);
            return { transportStreamId: ts.transport_stream_id,
                     tsName: info ? text(info.ts_name) : null,
                     remoteControlKeyId: info ? info.remote_control_key_id : null,
                     services: list ? list.services.map(x => x.service_id) : [] };
        })
    };
});
parser.on("sdt", s => {
    const o = s.decode();
    const target = o.table_id === 0x42 ? out.sdt : out.sdtOther;
    for (const service of o.services) {
        const d = descriptors(service.descriptors).find(x => x.descriptor_tag === 0x48);
        if (d) {
            target[service.service_id] = { transportStreamId: o.transport_stream_id,
                                           type: d.service_type,
                                           provider: text(d.service_provider_name),
                                           name: text(d.service_name) };
        }
    }
});
parser.on("eit", s => {
    const o = s.decode();
    const key = `${o.table_id}/${o.service_id}/${o.section_number}/${o.version_number}`;
    if (seen.has(key)) return;
    seen.add(key);
    const ids = [];
    for (const e of o.events) {
        ids.push(e.event_id);
        const id = `${o.service_id}/${e.event_id}`;
        const event = out.events[id] || (out.events[id] = { serviceId: o.service_id, eventId: e.event_id });
        event.start = time(e.start_time);
        event.duration = bcdSeconds(e.duration);
        const items = [];
        for (const d of descriptors(e.descriptors)) {
            if (d.descriptor_tag === 0x4D) {
                event.title = text(d.event_name);
                event.text = text(d.text);
            } else if (d.descriptor_tag === 0x4E) {
                for (const item of d.items) {
                    items.push({ description: text(item.item_description), text: text(item.item) });
                }
            }
        }
        if (items.length > 0) {
            event.items = items;
        }
    }
    out.eitSections.push({ tableId: o.table_id, serviceId: o.service_id, version: o.version_number,
                           section: o.section_number, lastSection: o.last_section_number,
                           segmentLast: o.segment_last_section_number, lastTableId: o.last_table_id,
                           eventIds: ids });
});
parser.on("tot", s => {
    out.tots.push(time(s.decode().JST_time));
});
parser.on("cdt", s => {
    const o = s.decode();
    const m = o.data_module;
    out.cdt.push({ downloadDataId: o.download_data_id, dataType: o.data_type, section: o.section_number,
                   logoType: m[0], logoId: ((m[1] << 8) | m[2]) & 0x1FF,
                   dataSize: (m[5] << 8) | m[6],
                   png: m[7] === 0x89 && m[8] === 0x50 && m[9] === 0x4E && m[10] === 0x47 });
});

// aribts has no BIT decoder of its own: its reader, descriptor and text decoders read it here.
const bitPid = 0x24;
const packetParser = new aribts.TsPacketParser();
const bitParser = new aribts.TsSectionParser();
bitParser.on("data", () => {});
packetParser.on("data", packet => {
    if (packet.getPid() !== bitPid || out.bit) return;
    if (packet.getPayloadUnitStartIndicator() !== 1) return;
    const data = packet.getData();
    const section = data.slice(1 + data[0]);
    if (section[0] !== 0xC4) return;
    const length = 3 + (((section[1] & 0x0F) << 8) | section[2]);
    if (length > section.length || aribts.TsCrc32.calc(section.slice(0, length)) !== 0) return;
    const reader = new aribts.TsReader(section.slice(0, length));
    reader.next(24);
    const onid = reader.uimsbf(16);
    reader.next(24);
    reader.next(3);
    reader.next(1);
    const firstLength = reader.uimsbf(12);
    reader.readBytesRaw(firstLength);
    const broadcasters = [];
    while ((reader.position >> 3) < length - 4) {
        const id = reader.uimsbf(8);
        reader.next(4);
        const dl = reader.uimsbf(12);
        const ds = descriptors(new aribts.TsDescriptors(reader.readBytesRaw(dl)));
        const name = ds.find(d => d.descriptor_tag === 0xD8);
        broadcasters.push({ broadcasterId: id, name: name ? text(name.char) : null });
    }
    out.bit = { originalNetworkId: onid, broadcasters };
});

packetParser.pipe(parser);
const connector = new aribts.TsReadableConnector();
fs.createReadStream(file).pipe(connector);
connector.pipe(packetParser);
parser.on("finish", () => {});
connector.on("finish", () => {});
process.on("exit", () => {
    out.events = Object.values(out.events);
    // A file, not stdout: a pipe is not flushed completely when the process exits.
    fs.writeFileSync(outputFile, JSON.stringify(out));
});
