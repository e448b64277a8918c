// The sound search measured on the generated corpus (bench/sound_search/make_corpus.sh): per
// family the recall, precision and F1 of each search mode of tintwave-cli find at the default
// threshold and at the family's best, and of a plain MFCC + subsequence DTW detector for
// comparison.
// usage: sound_search_eval CORPUS_DIR TINTWAVE_CLI [MODE...]
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
  std::string file, family;
  int rate = 0, protoStart = 0, protoCount = 0;
  std::vector<int> truth;
};

struct Detection {
  int start;
  double score;
};

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::vector<Detection> FindWithCli(const std::string& cli, const std::string& path, const Entry& e,
                                   const std::string& mode) {
  const std::string command = cli + " find " + path + " --start " + std::to_string(e.protoStart) +
                              "s --count " + std::to_string(e.protoCount) + "s --threshold 0 --mode " + mode;
  std::istringstream in(Run(command));
  std::string line;
  std::getline(in, line);  // matches: N
  std::vector<Detection> found;
  int start;
  double seconds, score;
  while (in >> start >> seconds >> score) found.push_back({start, score});
  return found;
}

// --- The MFCC + DTW detector -----------------------------------------------------------------

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * M_PI / double(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1;
      for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
        const auto u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

using Frames = std::vector<std::vector<double>>;

// 13 MFCCs (c0..c12) of 25 ms frames every 10 ms from 26 mel filters, 64 Hz to 8 kHz.
Frames Mfcc(const std::vector<float>& x, int rate) {
  const int win = int(0.025 * rate), hop = int(0.01 * rate);
  int nfft = 1;
  while (nfft < win) nfft <<= 1;
  const double top = std::min(8000.0, rate / 2.0);
  auto mel = [](double f) { return 2595 * std::log10(1 + f / 700); };
  auto hz = [](double m) { return 700 * (std::pow(10, m / 2595) - 1); };
  const int bands = 26;
  std::vector<double> edge(bands + 2);
  for (int i = 0; i < bands + 2; ++i) edge[i] = hz(mel(64) + (mel(top) - mel(64)) * i / (bands + 1));
  Frames out;
  std::vector<std::complex<double>> buf(nfft);
  for (std::size_t s = 0; s + win <= x.size(); s += hop) {
    std::fill(buf.begin(), buf.end(), 0);
    for (int i = 0; i < win; ++i) buf[i] = x[s + i] * (0.54 - 0.46 * std::cos(2 * M_PI * i / (win - 1)));
    Fft(buf);
    std::vector<double> logE(bands);
    for (int b = 0; b < bands; ++b) {
      double e = 0;
      for (int k = 0; k <= nfft / 2; ++k) {
        const double f = double(k) * rate / nfft;
        double w = 0;
        if (f > edge[b] && f < edge[b + 1]) w = (f - edge[b]) / (edge[b + 1] - edge[b]);
        else if (f >= edge[b + 1] && f < edge[b + 2]) w = (edge[b + 2] - f) / (edge[b + 2] - edge[b + 1]);
        e += w * std::norm(buf[k]);
      }
      logE[b] = std::log(std::max(e, 1e-6));  // a floor some 60 dB under speech
    }
    std::vector<double> c(13);
    for (int k = 0; k < 13; ++k)
      for (int b = 0; b < bands; ++b) c[k] += logE[b] * std::cos(M_PI * k * (b + 0.5) / bands);
    out.push_back(c);
  }
  return out;
}

// Cepstral mean normalisation with the file's mean, the same for the query (a part of it).
void SubtractMean(const Frames& of, Frames& f) {
  if (of.empty()) return;
  std::vector<double> mean(of[0].size());
  for (const auto& v : of)
    for (std::size_t k = 0; k < v.size(); ++k) mean[k] += v[k] / double(of.size());
  for (auto& v : f)
    for (std::size_t k = 0; k < v.size(); ++k) v[k] -= mean[k];
}

// Subsequence DTW with the slopes kept between 1/2 and 2 (steps (1,1), (1,2), (2,1), every
// query frame counted once), the cost the mean Euclidean distance per query frame; the runs of
// best cost, none overlapping another, scored by minus the cost.
std::vector<Detection> MfccDtw(const std::vector<float>& x, const Entry& e) {
  const int hop = int(0.01 * e.rate);
  Frames track = Mfcc(x, e.rate);
  const std::vector<float> protoSamples(x.begin() + e.protoStart, x.begin() + e.protoStart + e.protoCount);
  Frames query = Mfcc(protoSamples, e.rate);
  SubtractMean(track, query);
  SubtractMean(Frames(track), track);
  const int m = int(query.size()), n = int(track.size());
  const double far = 1e300;
  auto dist = [&](int i, int j) {
    double d = 0;
    for (int k = 0; k < 13; ++k) d += (query[i][k] - track[j][k]) * (query[i][k] - track[j][k]);
    return std::sqrt(d);
  };
  std::vector<double> p1(m, far), p2(m, far), cur(m), dd(m);
  std::vector<int> s1(m, 0), s2(m, 0), curS(m);
  std::vector<double> endCost(n);
  std::vector<int> endStart(n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < m; ++i) dd[i] = dist(i, j);
    cur[0] = dd[0], curS[0] = j;
    for (int i = 1; i < m; ++i) {
      double best = p1[i - 1];
      int s = s1[i - 1];
      if (p2[i - 1] < best) best = p2[i - 1], s = s2[i - 1];
      if (i >= 2 && p1[i - 2] + dd[i - 1] < best) best = p1[i - 2] + dd[i - 1], s = s1[i - 2];
      cur[i] = best + dd[i], curS[i] = s;
    }
    endCost[j] = cur[m - 1] / m;
    endStart[j] = curS[m - 1];
    std::swap(p2, p1), std::swap(p1, cur), std::swap(s2, s1), std::swap(s1, curS);
  }
  std::vector<int> order(n);
  for (int j = 0; j < n; ++j) order[j] = j;
  std::sort(order.begin(), order.end(), [&](int a, int b) { return endCost[a] < endCost[b]; });
  std::vector<char> used(n, 0);
  std::vector<Detection> found;
  const int protoFrame = e.protoStart / hop;
  for (int j : order) {
    if (endCost[j] >= far / 2) break;
    const int s = endStart[j];
    bool free = true;
    for (int k = s; k <= j && free; ++k) free = !used[k];
    if (!free) continue;
    for (int k = s; k <= j; ++k) used[k] = 1;
    if (std::abs(s - protoFrame) * hop < e.rate / 10) continue;  // the prototype itself
    found.push_back({s * hop, -endCost[j]});
  }
  return found;
}

std::vector<float> DecodeMono(const std::string& path, std::size_t frames) {
  std::vector<float> x(frames);
  FILE* p = popen(("sox " + path + " -t f32 -c 1 - 2>/dev/null").c_str(), "r");
  const std::size_t got = p ? fread(x.data(), sizeof(float), frames, p) : 0;
  if (p) pclose(p);
  x.resize(got);
  return x;
}

// --- Scoring -----------------------------------------------------------------------------------

struct Tally {
  int hits = 0, truths = 0, reported = 0;
  void Add(const Tally& t) { hits += t.hits, truths += t.truths, reported += t.reported; }
  double Recall() const { return truths ? double(hits) / truths : 1; }
  double Precision() const { return reported ? double(hits) / reported : 1; }
  double F1() const { const double p = Precision(), r = Recall(); return p + r > 0 ? 2 * p * r / (p + r) : 0; }
};

// A detection hits a copy when it starts within 0.15 s of it; each copy is hit once.
Tally Score(const std::vector<Detection>& found, const Entry& e, double threshold) {
  Tally t;
  t.truths = int(e.truth.size());
  std::vector<char> hit(e.truth.size(), 0);
  for (const Detection& d : found) {
    if (d.score < threshold) continue;
    ++t.reported;
    for (std::size_t k = 0; k < e.truth.size(); ++k)
      if (!hit[k] && std::abs(d.start - e.truth[k]) <= 0.15 * e.rate) {
        hit[k] = 1;
        ++t.hits;
        break;
      }
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: sound_search_eval CORPUS_DIR TINTWAVE_CLI [MODE...]\n");
    return 2;
  }
  const std::string dir = argv[1], cli = argv[2];
  std::vector<std::string> modes;
  for (int i = 3; i < argc; ++i) modes.push_back(argv[i]);
  if (modes.empty()) modes = {"sound", "anywhere"};
  std::vector<Entry> entries;
  std::ifstream truth(dir + "/truth.txt");
  for (std::string line; std::getline(truth, line);) {
    std::istringstream in(line);
    Entry e;
    in >> e.file >> e.family >> e.rate >> e.protoStart >> e.protoCount;
    for (int s; in >> s;) e.truth.push_back(s);
    entries.push_back(e);
  }
  std::vector<std::string> families;
  for (const Entry& e : entries)
    if (std::find(families.begin(), families.end(), e.family) == families.end()) families.push_back(e.family);

  // detections[method][entry]
  std::vector<std::string> methods = modes;
  methods.push_back("mfcc-dtw");
  std::vector<std::vector<std::vector<Detection>>> detections(methods.size(), std::vector<std::vector<Detection>>(entries.size()));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const Entry& e = entries[k];
    const std::string path = dir + "/" + e.file;
    for (std::size_t m = 0; m < modes.size(); ++m) detections[m][k] = FindWithCli(cli, path, e, modes[m]);
    const std::size_t frames = std::size_t(std::stod(Run("soxi -s " + path)));
    detections[modes.size()][k] = MfccDtw(DecodeMono(path, frames), e);
    std::fprintf(stderr, "%s\n", e.file.c_str());
  }

  std::printf("| method | family | R@70 | P@70 | F1@70 | best t | R | P | F1 |\n|---|---|---|---|---|---|---|---|---|\n");
  for (std::size_t m = 0; m < methods.size(); ++m) {
    const bool mfcc = methods[m] == "mfcc-dtw";
    std::vector<double> thresholds;
    if (mfcc) {
      for (const auto& list : detections[m])
        for (const Detection& d : list) thresholds.push_back(d.score);
      std::sort(thresholds.begin(), thresholds.end());
      thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    } else {
      for (int t = 0; t <= 1000; ++t) thresholds.push_back(t / 10.0);
    }
    auto tallyAt = [&](const std::string& family, double t) {
      Tally sum;
      for (std::size_t k = 0; k < entries.size(); ++k)
        if (entries[k].family == family) sum.Add(Score(detections[m][k], entries[k], t));
      return sum;
    };
    double f1Default = 0, f1Best = 0, globalBest = 0, globalT = 0;
    for (double t : thresholds) {
      double avg = 0;
      for (const auto& f : families) avg += tallyAt(f, t).F1() / double(families.size());
      if (avg > globalBest) globalBest = avg, globalT = t;
    }
    for (const auto& f : families) {
      const Tally d = tallyAt(f, 70);
      double bestF1 = -1, bestT = 0;
      Tally best;
      for (double t : thresholds) {
        const Tally x = tallyAt(f, t);
        if (x.F1() > bestF1) bestF1 = x.F1(), bestT = t, best = x;
      }
      f1Default += d.F1() / double(families.size());
      f1Best += bestF1 / double(families.size());
      if (mfcc)
        std::printf("| %s | %s | – | – | – | %.2f | %.2f | %.2f | %.2f |\n", methods[m].c_str(), f.c_str(), bestT,
                    best.Recall(), best.Precision(), bestF1);
      else
        std::printf("| %s | %s | %.2f | %.2f | %.2f | %.1f | %.2f | %.2f | %.2f |\n", methods[m].c_str(), f.c_str(),
                    d.Recall(), d.Precision(), d.F1(), bestT, best.Recall(), best.Precision(), bestF1);
    }
    std::printf("| %s | **mean** | | | %s | per family | | | %.3f |\n", methods[m].c_str(),
                mfcc ? "–" : std::to_string(f1Default).substr(0, 5).c_str(), f1Best);
    std::printf("| %s | mean at one threshold (%.2f) | | | | | | | %.3f |\n", methods[m].c_str(), globalT, globalBest);
  }
  return 0;
}
