#include "report/review_page.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "common/file_ops.h"
#include "common/json_io.h"
#include "common/paths.h"
#include "common/plan_entry.h"
#include "twintone_ext.h"

namespace twintone_cli {
namespace {

// The page around its data. The script builds every element with createElement and
// textContent, so a file name is always text, never markup.
const char kPageHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="generator" content="twintone review page">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>twintone: review duplicates</title>
<style>
:root { color-scheme: light dark; --line: #8884; --accent: #2a6fdb; }
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, sans-serif; margin: 0 auto; padding: 1rem; max-width: 70rem; }
h1 { font-size: 1.4rem; margin: 0 0 .3rem; }
.group, .nearlist { border: 1px solid var(--line); border-radius: .5rem; margin: 1rem 0; padding: .6rem .8rem; }
.group h2, .nearlist h2 { font-size: 1.1rem; margin: 0; }
.reason { margin: .2rem 0 .5rem; opacity: .8; }
.unsure { color: #b35c00; font-weight: 600; }
.file { display: grid; grid-template-columns: 1fr 16rem; gap: .3rem 1rem; padding: .5rem 0;
        border-top: 1px solid var(--line); align-items: center; }
.file.kept { background: #2a6fdb14; }
.file.left { opacity: .55; }
.differ { color: #b35c00; }
.near { display: grid; grid-template-columns: 1fr 1fr; gap: .3rem 1rem; padding: .5rem 0; border-top: 1px solid var(--line); }
.name { font-weight: 600; overflow-wrap: anywhere; }
.facts { font-size: .9rem; opacity: .85; }
.choices { display: flex; flex-wrap: wrap; gap: .2rem 1rem; }
.choices label { cursor: pointer; padding: .15rem 0; }
audio { width: 100%; }
input:focus-visible, button:focus-visible, audio:focus-visible { outline: 3px solid var(--accent); outline-offset: 2px; }
#save { font: inherit; padding: .5rem 1.2rem; border-radius: .4rem; border: 1px solid var(--accent);
        background: var(--accent); color: #fff; cursor: pointer; }
textarea { width: 100%; min-height: 8rem; font: .85rem ui-monospace, monospace; }
#totals { font-weight: 600; }
#bar { position: sticky; bottom: 0; padding: .6rem 0; border-top: 1px solid var(--line);
       background: Canvas; display: flex; flex-wrap: wrap; gap: .4rem 1rem; align-items: center; }
.same { color: #1b7f3b; font-weight: 600; }
@media (max-width: 40rem) {
  body { padding: .5rem; }
  .file { grid-template-columns: 1fr; }
}
</style>
</head>
<body>
<h1>Review duplicates</h1>
<p id="totals"></p>
<p id="intro"></p>
<main id="groups"></main>
<section id="near" class="nearlist" hidden><h2>Near misses</h2><p class="reason" id="near-intro"></p></section>
<section>
<label for="plan" style="display:block;margin-top:.4rem">Plan (save it, or copy it into a file; then run <code>twintone --apply FILE</code> with an action)</label>
<textarea id="plan" readonly></textarea>
</section>
<footer id="bar">
<button id="save" type="button">Save plan</button>
<span id="live"></span>
<span id="status" role="status"></span>
</footer>
<script type="application/json" id="data">)";

const char kPageTail[] = R"(</script>
<script>
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
function el(tag, text, cls) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (cls) node.className = cls;
  return node;
}
function duration(ms) {
  if (!ms) return "?";
  const s = Math.round(ms / 1000), h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
  const ss = String(s % 60).padStart(2, "0");
  return h ? h + ":" + String(m).padStart(2, "0") + ":" + ss : m + ":" + ss;
}
// Sizes and matches as the text report writes them: powers of 1024 with one decimal;
// a match cut (not rounded) to one decimal, so only a full match reads 100.0%.
function bytes(n) {
  const units = ["B", "KiB", "MiB", "GiB", "TiB"];
  let v = Number(n), u = 0;
  while (v >= 1024 && u < units.length - 1) { v /= 1024; ++u; }
  return (u ? v.toFixed(1) : v) + " " + units[u];
}
function match(f) { return (Math.floor(f * 1000 + 1e-3) / 10).toFixed(1) + "%"; }
function count(n, one, many) { return n + " " + (n === 1 ? one : many); }
// What the choices made so far would act on: duplicates and the bytes they take (a file
// counted once, a symbolic link as nothing).
function live() {
  const seen = new Set();
  let dups = 0, free = 0;
  data.groups.forEach(group => group.members.forEach(m => {
    if (m.role !== "duplicate") return;
    ++dups;
    const id = m.dev + ":" + m.ino;
    if (!m.symlink && !seen.has(id)) { seen.add(id); free += Number(m.size); }
  }));
  document.getElementById("live").textContent = "Your choices: " +
    count(dups, "duplicate", "duplicates") + ", " + bytes(free) + " to free.";
}
function refresh(g) {
  const group = data.groups[g];
  const kept = group.members.find(m => m.role === "keep");
  const reason = document.getElementById("reason-" + g);
  reason.textContent = !kept ? "Nothing kept first: every copy is left alone."
    : kept === group.members[0] ? group.reason : "kept: your choice in the review";
  group.members.forEach((m, i) => {
    const same = document.getElementById("same-" + g + "-" + i);
    same.textContent = kept && m !== kept && m.hash && m.hash === kept.hash
      ? "Identical to the kept copy: the same bytes" : "";
    const row = document.getElementById("file-" + g + "-" + i);
    const keep = m.role === "keep";
    row.classList.toggle("kept", keep);
    row.classList.toggle("left", m.role === "leave" || m.role === "distinct");
    const leave = document.getElementById("leave-" + g + "-" + i);
    leave.disabled = keep || m.different === true;
    leave.checked = m.role === "leave";
    const distinct = document.getElementById("distinct-" + g + "-" + i);
    distinct.disabled = keep || m.different === true;
    distinct.checked = m.role === "distinct";
  });
  live();
}
const t = data.totals;
document.getElementById("totals").textContent = count(t.groups, "group", "groups") + ", " +
  count(t.duplicates, "duplicate", "duplicates") + ", " + bytes(t.bytes_to_free) + " to free; " +
  count(t.unique, "unique file", "unique files") + ", " + t.skipped + " skipped, " +
  t.left_out + " left out.";
const intro = document.getElementById("intro");
const files = data.groups.reduce((n, g) => n + g.members.length, 0);
intro.textContent = data.groups.length + " groups, " + files + " files. In each group, pick the copy to keep; " +
  "the others are acted on unless you leave them out. Listen with the players first.";
const main = document.getElementById("groups");
data.groups.forEach((group, g) => {
  const section = el("section", undefined, "group");
  section.setAttribute("aria-labelledby", "group-" + g);
  const title = el("h2", "Group " + (g + 1));
  title.id = "group-" + g;
  section.append(title);
  const reason = el("p", group.reason, "reason");
  reason.id = "reason-" + g;
  section.append(reason);
  if (group.unsure) section.append(el("p", "Unsure which copy is good: nothing here is acted on unless you choose.", "unsure"));
  group.members.forEach((m, i) => {
    const row = el("div", undefined, "file");
    row.id = "file-" + g + "-" + i;
    const text = el("div");
    text.append(el("div", m.path, "name"));
    const tags = [m.title, m.artist, m.album].map(t => t || "?").join(" · ");
    text.append(el("div", m.title || m.artist || m.album ? tags : "no tags", "tags"));
    const facts = [duration(m.duration_ms), m.format || "?", m.bitrate_kbps ? m.bitrate_kbps + " kbit/s" : "? kbit/s",
                   bytes(m.size)];
    if (m.similarity != null) facts.push(match(m.similarity) + " similar");
    else facts.push("same tags");
    text.append(el("div", facts.join(" · "), "facts"));
    if (m.different) text.append(el("div", "Same tags, different recording: never acted on", "differ"));
    const same = el("div", "", "same");
    same.id = "same-" + g + "-" + i;
    text.append(same);
    if (m.quality) text.append(el("div", m.quality, "facts"));
    if (m.passed_over) text.append(el("div", "Not kept first: " + m.passed_over, "facts"));
    const choices = el("div", undefined, "choices");
    const keep = el("input");
    keep.type = "radio"; keep.name = "keep-" + g; keep.id = "keep-" + g + "-" + i; keep.checked = m.role === "keep";
    keep.addEventListener("change", () => {
      group.members.forEach((o, j) => {
        if (o.role === "keep") o.role = group.unsure ? "leave" : "duplicate";
        if (j === i) o.role = "keep";
      });
      refresh(g);
    });
    const keepLabel = el("label", " Keep this copy");
    keepLabel.prepend(keep);
    const leave = el("input");
    leave.type = "checkbox"; leave.id = "leave-" + g + "-" + i;
    leave.addEventListener("change", () => { m.role = leave.checked ? "leave" : "duplicate"; refresh(g); });
    const leaveLabel = el("label", " Leave it alone");
    leaveLabel.prepend(leave);
    const distinct = el("input");
    distinct.type = "checkbox"; distinct.id = "distinct-" + g + "-" + i;
    distinct.addEventListener("change", () => { m.role = distinct.checked ? "distinct" : "duplicate"; refresh(g); });
    const distinctLabel = el("label", " Not a duplicate");
    distinctLabel.title = "Leave it alone, and never group it with the kept copy again";
    distinctLabel.prepend(distinct);
    if (m.different) { keep.disabled = true; distinct.disabled = true; }
    choices.append(keepLabel, leaveLabel, distinctLabel);
    text.append(choices);
    const audio = el("audio");
    audio.controls = true; audio.preload = "none"; audio.src = m.url;
    audio.setAttribute("aria-label", "Play " + m.path);
    row.append(text, audio);
    section.append(row);
  });
  main.append(section);
  refresh(g);
});
function player(path, url) {
  const audio = el("audio");
  audio.controls = true; audio.preload = "none"; audio.src = url;
  audio.setAttribute("aria-label", "Play " + path);
  const cell = el("div");
  cell.append(el("div", path, "name"), audio);
  return cell;
}
if (data.near_misses) {
  const near = document.getElementById("near");
  near.hidden = false;
  document.getElementById("near-intro").textContent = data.near_misses.length + " pairs alike in more than " +
    data.near_floor + "% but not in more than " + data.similarity + "%: not grouped, never acted on. " +
    "A lower --similarity would group them.";
  data.near_misses.forEach(pair => {
    const row = el("div", undefined, "near");
    row.append(el("div", Math.round(pair.similarity * 100) + "% similar", "facts"), el("div"),
               player(pair.path, pair.url), player(pair.other, pair.other_url));
    near.append(row);
  });
}
document.getElementById("save").addEventListener("click", () => {
  const plan = { twintone_plan: 1, scan_id: data.scan_id,
    groups: data.groups.map(group => ({ members: group.members.map(m => ({
    path_hex: m.path_hex, rel_hex: m.rel_hex, size: m.size, mtime_ns: m.mtime_ns, dev: m.dev, ino: m.ino,
    role: m.role })) })) };
  const text = JSON.stringify(plan, null, 1);
  document.getElementById("plan").value = text;
  const link = el("a");
  link.href = URL.createObjectURL(new Blob([text], { type: "application/json" }));
  link.download = "twintone-plan.json";
  document.body.append(link);
  link.click();
  link.remove();
  document.getElementById("status").textContent = " Plan saved as twintone-plan.json.";
});
</script>
</body>
</html>
)";

// The line that marks a page as one twintone wrote, and so may write over.
const char kPageMarker[] = "<meta name=\"generator\" content=\"twintone review page\">";

struct FileCloser {
  void operator()(FILE* pFile) const { std::fclose(pFile); }
};

// The format the report knows, else the file's extension in capitals ("MP3").
std::string FormatOf(const Member& member) {
  if (!member.strFormat.empty()) return member.strFormat;
  std::string strName = BaseName(member.strPath);
  size_t nDot = strName.find_last_of('.');
  std::string strExt = nDot == std::string::npos || nDot == 0 ? "" : strName.substr(nDot + 1);
  for (char& c : strExt) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return strExt;
}

// "true stereo", "mono", "dual mono" (two channels, one signal), "channels unknown".
std::string ChannelsText(int nStereo) {
  switch (nStereo) {
    case TWINTONE_STEREO_TRUE:
      return "true stereo";
    case TWINTONE_STEREO_MONO:
      return "mono";
    case TWINTONE_STEREO_DUAL_MONO:
      return "dual mono";
    default:
      return "channels unknown";
  }
}

// Every measure of a member in one line beside it, so the reason can be checked; empty
// when it was not measured.
std::string QualityText(const Quality& q) {
  if (!q.bMeasured) return "";
  auto ms = [](int nMs) {
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%.2f s", nMs / 1000.0);
    return nMs < 0 ? std::string("?") : std::string(szText);
  };
  char szBand[32];
  std::snprintf(szBand, sizeof(szBand), "%.1f kHz", q.nBandwidthHz / 1000.0);
  std::string strText = std::string("Sounds: band ") + (q.nBandwidthHz < 0 ? "?" : szBand) +
                        ", " + ChannelsText(q.nStereo) + ", " +
                        std::to_string(q.nSampleRate) + " Hz, " + std::to_string(q.nChannels) +
                        " ch, clipped " +
                        (q.nClippedPpm < 0 ? "?" : std::to_string(q.nClippedPpm)) +
                        " per million, silence " + ms(q.nLeadSilenceMs) + " before and " +
                        ms(q.nTrailSilenceMs) + " after (added " + ms(q.nAddedLeadMs) + " and " +
                        ms(q.nAddedTrailMs) + ")";
  if (q.bLossySource) {
    strText += ", lossless container, lossy source";
  } else if (q.bLossyEdge) {
    strText += ", lossy encoder's edge";
  }
  return strText + "; over " + ms(q.nMeasuredMs) + " of audio";
}

std::string FileUrl(const std::string& strPath) {
  return "file://" + PercentEncodePath(AbsolutePath(strPath));
}

// A member as the page shows it: the plan's fields (common/plan_entry.h) as the file
// is now, and what a person needs to choose.
Json MemberJson(const Member& member, const std::string& strRole, const std::string& strRel) {
  FileFacts facts = FactsOf(member.strPath);
  PlanEntry entry{AbsolutePath(member.strPath),
                  strRel,
                  std::to_string(facts.nSize),
                  std::to_string(facts.nModifiedNs),
                  std::to_string(facts.nDevice),
                  std::to_string(facts.nInode),
                  strRole};
  Json obj = {{"path", member.strPath},
              {"url", FileUrl(member.strPath)},
              {"title", member.strTitle},
              {"artist", member.strArtist},
              {"album", member.strAlbum},
              {"hash", member.strContentHash},
              {"symlink", member.bSymlink},
              {"duration_ms", member.nDurationMs},
              {"format", FormatOf(member)},
              {"bitrate_kbps", member.nBitrateKbps},
              {"similarity", std::round(member.fSimilarity * 10000.0) / 10000.0},
              {"passed_over", member.strPassedOver},
              {"quality", QualityText(member.quality)}};
  obj.update(Json(entry));
  return obj;
}

// The page's data as JSON, with every '<' written as \u003c so nothing in it can end
// the script element it sits in.
std::string PageData(const RunReport& report, const std::vector<std::string>& vecRoots,
                     const std::string& strScanId) {
  Json groups = Json::array();
  for (const Group& group : report.vecGroups) {
    Json members = Json::array();
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      const Member& member = group.vecMembers[i];
      std::string strRole = i == 0 ? "keep" : group.bUnsure ? "leave" : "duplicate";
      members.push_back(MemberJson(member, strRole, RelativeName(member.strPath, vecRoots)));
    }
    // Set apart by ear: shown to be heard, saved as left alone.
    for (const Member& member : group.vecDifferent) {
      Json obj = MemberJson(member, "leave", RelativeName(member.strPath, vecRoots));
      obj["different"] = true;
      members.push_back(std::move(obj));
    }
    groups.push_back(
        {{"reason", group.strKeepReason}, {"unsure", group.bUnsure}, {"members", members}});
  }
  // Fingerprint mode: the near misses, for a part of their own.
  Json near;
  if (report.nNearFloor > 0) {
    Json pairs = Json::array();
    for (const NearMiss& pair : report.vecNearMisses) {
      pairs.push_back({{"path", pair.strPath},
                       {"url", FileUrl(pair.strPath)},
                       {"other", pair.strOther},
                       {"other_url", FileUrl(pair.strOther)},
                       {"similarity", std::round(pair.fSimilarity * 10000.0) / 10000.0}});
    }
    near = {{"near_floor", report.nNearFloor},
            {"similarity", report.nSimilarity},
            {"near_misses", std::move(pairs)}};
  }
  std::string strSafe;
  Json totals = {{"groups", report.vecGroups.size()},
                 {"duplicates", report.Duplicates()},
                 {"bytes_to_free", report.BytesFreed()},
                 {"unique", report.vecUnique.size()},
                 {"skipped", report.SkippedCount(false)},
                 {"left_out", report.SkippedCount(true)}};
  Json doc = {{"version", 1},
              {"scan_id", strScanId},
              {"mode", report.bFingerprint ? "fingerprint" : "tags"},
              {"totals", totals},
              {"groups", groups}};
  if (report.nNearFloor > 0) doc.update(near);
  for (char c : DumpJson(doc)) {
    strSafe += c == '<' ? std::string("\\u003c") : std::string(1, c);
  }
  return strSafe;
}

}  // namespace

bool IsReviewPage(const std::string& strPath) {
  // Looked at before it is opened: opening a FIFO would wait for a writer.
  if (!FactsOf(strPath).bRegular) return false;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(strPath.c_str(), "rb"));
  if (!file) return false;
  std::string strHead(sizeof(kPageHead), '\0');
  strHead.resize(std::fread(&strHead[0], 1, strHead.size(), file.get()));
  return strHead.find(kPageMarker) != std::string::npos;
}

bool WriteReviewPage(const RunReport& report, const std::vector<std::string>& vecRoots,
                     const std::string& strScanId, const std::string& strPath,
                     std::string* pstrError) {
  if (FactsOf(strPath).bExists && !IsReviewPage(strPath)) {
    *pstrError = strPath + " is not a review page twintone wrote, so it is left alone";
    return false;
  }
  // Written beside and renamed over, so a reader never sees half a page.
  std::string strTemp = ParentDir(strPath) + "/.twintone-page-" + std::to_string(getpid());
  {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(strTemp.c_str(), "wx"));
    if (!file) {
      *pstrError = "cannot write the review page " + strPath;
      return false;
    }
    std::fputs(kPageHead, file.get());
    std::fputs(PageData(report, vecRoots, strScanId).c_str(), file.get());
    std::fputs(kPageTail, file.get());
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
      *pstrError = "writing the review page " + strPath + " failed";
      unlink(strTemp.c_str());
      return false;
    }
  }
  if (rename(strTemp.c_str(), strPath.c_str()) != 0) {
    *pstrError = "cannot write the review page " + strPath;
    unlink(strTemp.c_str());
    return false;
  }
  return true;
}

}  // namespace twintone_cli
