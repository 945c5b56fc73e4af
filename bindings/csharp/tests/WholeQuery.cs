// The C# binding against the real library: its structures have the layout
// the C compiler gives dvkc.h, its imports the C calling convention and
// byte texts, its result table is the header's; every argument is checked
// at its exact bounds before any call; a whole query runs against dvkc
// serve; a failure carries its call, words and the service's ErrID and
// survives serialization; no buffer of the library is left behind.
//   WholeQuery.exe C_FACTS DVKC_TOOL WORK_DIR
// With DVKC_EXPECT_LIBRARY set, the libdvkc.so.1 the process loaded must be
// that file (the packed host's check that it runs the package's library).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Runtime.Serialization.Formatters.Binary;
using System.Text;
using System.Text.RegularExpressions;

static class WholeQuery
{
    static int failures;

    static void Check(bool ok, string what)
    {
        if (!ok) {
            Console.Error.WriteLine("FAILED: " + what);
            ++failures;
        }
    }

    static void Equal<T>(T expected, T actual, string what)
    {
        Check(EqualityComparer<T>.Default.Equals(expected, actual),
              what + ": expected " + expected + ", got " + actual);
    }

    static void CheckLayout(string[] facts)
    {
        var types = new Dictionary<string, Type> {
            { "QueryRecord", typeof(Dvkc.QueryRecord) }, { "QueryContext", typeof(Dvkc.QueryContext) } };
        foreach (string[] f in facts.Select(l => l.Split('\t'))) {
            if (f[0] == "size")
                Equal(int.Parse(f[2]), Marshal.SizeOf(types[f[1]]), "size of " + f[1]);
            else if (f[0] == "offset")
                Equal(int.Parse(f[3]), (int)Marshal.OffsetOf(types[f[1]], f[2]), "offset of " + f[1] + "." + f[2]);
        }
    }

    // Every import is Cdecl from DVKCDLL (on 32-bit Windows a StdCall
    // declaration would unbalance the stack, which no run on a 64-bit
    // platform can show); texts cross as bytes the binding encoded, never as
    // strings a marshaler might best-fit into '?'; every returned buffer
    // lands in a LibraryBuffer.
    static void CheckDeclarations()
    {
        int imports = 0, buffers = 0;
        foreach (MethodInfo method in typeof(Dvkc.Native).GetMethods(BindingFlags.Public | BindingFlags.Static)) {
            var import = (DllImportAttribute)method.GetCustomAttributes(typeof(DllImportAttribute), false).FirstOrDefault();
            if (import == null)
                continue;
            ++imports;
            Equal("DVKCDLL", import.Value, method.Name + " library");
            Equal(CallingConvention.Cdecl, import.CallingConvention, method.Name + " calling convention");
            foreach (ParameterInfo p in method.GetParameters()) {
                Check(p.ParameterType != typeof(string) && p.ParameterType != typeof(StringBuilder),
                      method.Name + " takes " + p.Name + " as a string");
                if (p.Name == "outBuf") {
                    Equal(typeof(Dvkc.LibraryBuffer).MakeByRefType(), p.ParameterType, method.Name + " outBuf");
                    ++buffers;
                }
            }
        }
        Equal(6, imports, "imported functions");
        Equal(3, buffers, "returned buffers");
    }

    static void CheckResults(string[] facts)
    {
        var calls = new Dictionary<string, Dvkc.Call> {
            { "BUILD", Dvkc.Call.Build }, { "WRAP", Dvkc.Call.Wrap },
            { "EXCHANGE", Dvkc.Call.Exchange }, { "PARSE", Dvkc.Call.Parse } };
        var rows = facts.Select(l => l.Split('\t')).Where(f => f[0] == "result").ToList();
        Equal(rows.Count, Dvkc.Results.All.Count, "number of results");
        for (int i = 0; i < rows.Count && i < Dvkc.Results.All.Count; ++i) {
            Dvkc.Result mine = Dvkc.Results.All[i];
            string[] c = rows[i];
            Check(mine.Call == calls[c[1]] && mine.Name == c[2] && mine.Value == int.Parse(c[3]) && mine.Words == c[4],
                  "result row " + i + ": " + string.Join(" ", c));
        }
    }

    // What an action throws: null when it returns.
    static Exception Thrown(Action action)
    {
        try {
            action();
            return null;
        } catch (Exception e) {
            return e;
        }
    }

    static Dvkc.Query WithRecords(int count)
    {
        var q = new Dvkc.Query();
        for (int i = 0; i < count; ++i)
            q.Add("SN-" + i, "S" + i);
        return q;
    }

    // Each row: an action, the exception type it must throw (null: none)
    // and the parameter that exception must name. Texts are measured in the
    // bytes the library receives (UTF-8 here: "é" is 2).
    static void CheckArguments(string identity, string work)
    {
        string missing = Path.Combine(work, "no such file");
        byte[] doc = Encoding.ASCII.GetBytes("<DVKReq/>");
        var built = WithRecords(3);
        built.Build(1, identity);
        var disposed = WithRecords(1);
        disposed.Build(1, identity);
        disposed.Dispose();
        disposed.Dispose();
        var rows = new List<Tuple<string, Action, Type, string>> {
            Tuple.Create<string, Action, Type, string>("SN of 16 bytes", () => new Dvkc.Query().Add(new string('S', 16), "A"), null, null),
            Tuple.Create<string, Action, Type, string>("SN of 17 bytes", () => new Dvkc.Query().Add(new string('S', 17), "A"), typeof(ArgumentException), "sn"),
            Tuple.Create<string, Action, Type, string>("SN of 8 x 2 bytes", () => new Dvkc.Query().Add(new string('é', 8), "A"), null, null),
            Tuple.Create<string, Action, Type, string>("SN of 8 x 2 + 1 bytes", () => new Dvkc.Query().Add(new string('é', 8) + "x", "A"), typeof(ArgumentException), "sn"),
            Tuple.Create<string, Action, Type, string>("SSID of 10 bytes", () => new Dvkc.Query().Add("SN", new string('I', 10)), null, null),
            Tuple.Create<string, Action, Type, string>("SSID of 11 bytes", () => new Dvkc.Query().Add("SN", new string('I', 11)), typeof(ArgumentException), "ssid"),
            Tuple.Create<string, Action, Type, string>("empty SSID", () => new Dvkc.Query().Add("SN", ""), typeof(ArgumentException), "ssid"),
            Tuple.Create<string, Action, Type, string>("empty SN", () => new Dvkc.Query().Add("", "A"), null, null),
            Tuple.Create<string, Action, Type, string>("null SN", () => new Dvkc.Query().Add(null, "A"), typeof(ArgumentNullException), "sn"),
            Tuple.Create<string, Action, Type, string>("null SSID", () => new Dvkc.Query().Add("SN", null), typeof(ArgumentNullException), "ssid"),
            Tuple.Create<string, Action, Type, string>("NUL in SN", () => new Dvkc.Query().Add("S\0N", "A"), typeof(ArgumentException), "sn"),
            Tuple.Create<string, Action, Type, string>("lone surrogate in SSID", () => new Dvkc.Query().Add("SN", "A\uD800"), typeof(ArgumentException), "ssid"),
            Tuple.Create<string, Action, Type, string>("1000 records", () => WithRecords(1000), null, null),
            Tuple.Create<string, Action, Type, string>("1001 records", () => WithRecords(1000).Add("SN", "A"), typeof(InvalidOperationException), null),
            Tuple.Create<string, Action, Type, string>("build without records", () => new Dvkc.Query().Build(1, identity), typeof(InvalidOperationException), null),
            Tuple.Create<string, Action, Type, string>("build after Clear", () => { var q = WithRecords(2); q.Clear(); q.Build(1, identity); }, typeof(InvalidOperationException), null),
            Tuple.Create<string, Action, Type, string>("null identity file", () => WithRecords(1).Build(1, null), typeof(ArgumentNullException), "identityFile"),
            Tuple.Create<string, Action, Type, string>("missing identity file", () => WithRecords(1).Build(1, missing), typeof(Dvkc.DvkcException), null),
            Tuple.Create<string, Action, Type, string>("Code(Count - 1)", () => built.Code(2), null, null),
            Tuple.Create<string, Action, Type, string>("Code(Count)", () => built.Code(3), typeof(ArgumentOutOfRangeException), "index"),
            Tuple.Create<string, Action, Type, string>("Code(-1)", () => built.Code(-1), typeof(ArgumentOutOfRangeException), "index"),
            Tuple.Create<string, Action, Type, string>("Code(0) before any build", () => WithRecords(1).Code(0), typeof(ArgumentOutOfRangeException), "index"),
            Tuple.Create<string, Action, Type, string>("null document", () => Dvkc.Query.Envelope(null, "sig"), typeof(ArgumentNullException), "document"),
            Tuple.Create<string, Action, Type, string>("null signature bytes", () => Dvkc.Query.Envelope(doc, (byte[])null), typeof(ArgumentNullException), "signature"),
            Tuple.Create<string, Action, Type, string>("null signature text", () => Dvkc.Query.Envelope(doc, (string)null), typeof(ArgumentNullException), "signature"),
            Tuple.Create<string, Action, Type, string>("NUL byte in document", () => Dvkc.Query.Envelope(new byte[] { 60, 0, 62 }, "sig"), typeof(ArgumentException), "document"),
            Tuple.Create<string, Action, Type, string>("unencodable signature", () => Dvkc.Query.Envelope(doc, "sig\uDC00"), typeof(ArgumentException), "signature"),
            Tuple.Create<string, Action, Type, string>("port 0", () => Dvkc.Query.Exchange("127.0.0.1", 0, "/dvk", missing, doc), typeof(ArgumentOutOfRangeException), "port"),
            Tuple.Create<string, Action, Type, string>("port 65536", () => Dvkc.Query.Exchange("127.0.0.1", 65536, "/dvk", missing, doc), typeof(ArgumentOutOfRangeException), "port"),
            Tuple.Create<string, Action, Type, string>("port 1 (trust file missing)", () => Dvkc.Query.Exchange("127.0.0.1", 1, "/dvk", missing, doc), typeof(Dvkc.DvkcException), null),
            Tuple.Create<string, Action, Type, string>("port 65535 (trust file missing)", () => Dvkc.Query.Exchange("127.0.0.1", 65535, "/dvk", missing, doc), typeof(Dvkc.DvkcException), null),
            Tuple.Create<string, Action, Type, string>("null host", () => Dvkc.Query.Exchange(null, 443, "/dvk", missing, doc), typeof(ArgumentNullException), "host"),
            Tuple.Create<string, Action, Type, string>("null path", () => Dvkc.Query.Exchange("127.0.0.1", 443, null, missing, doc), typeof(ArgumentNullException), "path"),
            Tuple.Create<string, Action, Type, string>("null trust file", () => Dvkc.Query.Exchange("127.0.0.1", 443, "/dvk", null, doc), typeof(ArgumentNullException), "trustFile"),
            Tuple.Create<string, Action, Type, string>("null body", () => Dvkc.Query.Exchange("127.0.0.1", 443, "/dvk", missing, null), typeof(ArgumentNullException), "body"),
            Tuple.Create<string, Action, Type, string>("null answer", () => new Dvkc.Query().Parse(null), typeof(ArgumentNullException), "answer"),
            Tuple.Create<string, Action, Type, string>("Add after Dispose", () => disposed.Add("SN", "A"), typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("Build after Dispose", () => disposed.Build(1, identity), typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("Parse after Dispose", () => disposed.Parse(doc), typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("Code after Dispose", () => disposed.Code(0), typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("Count after Dispose", () => { int n = disposed.Count; }, typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("ClientID after Dispose", () => { string s = disposed.ClientID; }, typeof(ObjectDisposedException), null),
            Tuple.Create<string, Action, Type, string>("Clear after Dispose", () => disposed.Clear(), typeof(ObjectDisposedException), null),
        };
        foreach (var row in rows) {
            Exception e = Thrown(row.Item2);
            Type type = e == null ? null : e.GetType();
            Check(type == row.Item3, row.Item1 + ": expected " + (row.Item3 == null ? "no exception" : row.Item3.Name) +
                                         ", got " + (e == null ? "none" : e.ToString()));
            var argument = e as ArgumentException;
            if (argument != null && row.Item3 == type)
                Equal(row.Item4, argument.ParamName, row.Item1 + ": parameter");
        }
        built.Dispose();
    }

    static int SampleCode(string sn)
    {
        return Encoding.UTF8.GetBytes(sn).Sum(b => (int)b) % 1000;
    }

    static void QueryTheService(string tool, string work, string identity)
    {
        string pki = Path.Combine(work, "pki");
        if (Directory.Exists(pki))
            Directory.Delete(pki, true);
        var start = new ProcessStartInfo(tool, "serve --listen 127.0.0.1:0 --pki-dir \"" + pki + "\"") {
            UseShellExecute = false, RedirectStandardOutput = true };
        using (Process serve = Process.Start(start)) {
            try {
                int port = 0;
                string line;
                while (port == 0 && (line = serve.StandardOutput.ReadLine()) != null) {
                    Match m = Regex.Match(line, @"listening on https://127\.0\.0\.1:([0-9]+)/");
                    if (m.Success)
                        port = int.Parse(m.Groups[1].Value);
                }
                if (port == 0)
                    throw new Exception("dvkc serve did not start");

                // The SN and SSID at their exact limits, one SN in two-byte characters.
                string[,] records = { { "SN-0001", "A123" }, { "DEV42-7781", "WIFI-HOME" },
                                      { "0123456789ABCDEF", "0123456789" }, { "ééééééćč", "ŁÓDŹ" } };
                using (var q = new Dvkc.Query()) {
                    for (int i = 0; i < records.GetLength(0); ++i)
                        q.Add(records[i, 0], records[i, 1]);
                    byte[] document = q.Build(42, identity);
                    Equal(records.GetLength(0), q.Count, "Count after Build");
                    Equal(-1, q.Code(records.GetLength(0) - 1), "code before the answer");
                    q.Parse(Dvkc.Query.Exchange("127.0.0.1", port, "/dvk", Path.Combine(pki, "trust.pem"),
                                                Dvkc.Query.Envelope(document, "signature")));
                    for (int i = 0; i < records.GetLength(0); ++i)
                        Equal(SampleCode(records[i, 0]), q.Code(i), "code of " + records[i, 0]);
                    Equal(40, q.ClientID.Length, "ClientID length");
                    Equal(15, q.Nonce.Length, "Nonce length");
                    Equal(14, q.RequestTime.Length, "ReqTime length");
                    Equal(0, q.ErrId, "ErrId");
                    string text = Encoding.UTF8.GetString(document);
                    Check(text.StartsWith("<DVKReq><ClientID>" + q.ClientID + "</ClientID>"),
                          "document starts with our ClientID");
                    Check(text.Contains("<SN>ééééééćč</SN><SSID>ŁÓDŹ</SSID>"), "UTF-8 texts in the document");
                    q.Clear();
                    Equal(0, q.Count, "Count after Clear");
                }
            } finally {
                serve.Kill();
                serve.WaitForExit();
            }
        }
    }

    static T RoundTrip<T>(T value)
    {
        var formatter = new BinaryFormatter();
        using (var stream = new MemoryStream()) {
            formatter.Serialize(stream, value);
            stream.Position = 0;
            return (T)formatter.Deserialize(stream);
        }
    }

    static void CheckServiceError()
    {
        var q = new Dvkc.Query();
        var e = Thrown(() => q.Parse(Encoding.ASCII.GetBytes(
                                 "HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ErrID>77</ErrID></DVKResponse>"))) as Dvkc.DvkcException;
        Check(e != null, "an error answer is reported as a DvkcException");
        if (e == null)
            return;
        var copy = RoundTrip(e);
        var plain = RoundTrip(new Dvkc.DvkcException(Dvkc.Call.Exchange, -6));
        foreach (var x in new[] { e, copy }) {
            Equal(Dvkc.Call.Parse, x.Call, "call");
            Equal("iParse_DVKResponsePKT", x.FunctionName, "function name");
            Equal(2000, x.Result, "result");
            Equal("the service reported an error", x.Words, "words");
            Equal((int?)77, x.ErrId, "ErrId");
            Equal("iParse_DVKResponsePKT 2000: the service reported an error (ErrID 77)", x.Message, "message");
        }
        Equal(77, q.ErrId, "the query's ErrId");
        Equal(Dvkc.Call.Exchange, plain.Call, "call after a round trip");
        Equal(-6, plain.Result, "result after a round trip");
        Equal((int?)null, plain.ErrId, "no ErrId after a round trip");
        Equal(Dvkc.Results.Words(Dvkc.Call.Exchange, -6), plain.Words, "words after a round trip");
    }

    [StructLayout(LayoutKind.Sequential)]
    struct Mallinfo2
    {
        public UIntPtr Arena, Ordblks, Smblks, Hblks, Hblkhd, Usmblks, Fsmblks, Uordblks, Fordblks, Keepcost;
    }

    [DllImport("libc.so.6")]
    static extern Mallinfo2 mallinfo2();

    static long MallocInUse()
    {
        Mallinfo2 m = mallinfo2();
        return (long)m.Uordblks.ToUInt64() + (long)m.Hblkhd.ToUInt64();
    }

    // 200 envelopes of a 256 KiB document and 200 failed builds: a buffer
    // not given back to vFreeData would leave 50 MiB in malloc's hands.
    // (Under AddressSanitizer mallinfo2 reports nothing, and this passes.)
    static void CheckBuffersReleased(string identity, string work)
    {
        byte[] document = Encoding.ASCII.GetBytes(new string('D', 256 * 1024));
        string missing = Path.Combine(work, "no such file");
        Dvkc.Query.Envelope(document, "warm-up");
        long before = MallocInUse();
        for (int i = 0; i < 200; ++i) {
            Dvkc.Query.Envelope(document, "signature");
            using (var q = WithRecords(10)) {
                Thrown(() => q.Build(i, missing));
                q.Build(i, identity);
            }
        }
        long grown = MallocInUse() - before;
        Check(grown < 8 * 1024 * 1024, "malloc'd memory grew by " + grown + " bytes over 200 envelopes");
    }

    // The packed host's check: the native library in this process is the package's.
    static void CheckLoadedLibrary()
    {
        string expected = Environment.GetEnvironmentVariable("DVKC_EXPECT_LIBRARY");
        if (string.IsNullOrEmpty(expected))
            return;
        var loaded = File.ReadAllLines("/proc/self/maps")
                         .Where(l => l.Contains("libdvkc.so"))
                         .Select(l => l.Substring(l.IndexOf('/')))
                         .Distinct()
                         .ToList();
        Check(loaded.Count == 1 && loaded[0] == Path.GetFullPath(expected),
              "the library loaded is " + string.Join(", ", loaded) + ", not " + expected);
    }

    static int Main(string[] args)
    {
        string[] facts = File.ReadAllLines(args[0], Encoding.GetEncoding("iso-8859-1"));
        string work = args[2];
        Directory.CreateDirectory(work);
        string identity = Path.Combine(work, "identity.bin");
        File.WriteAllText(identity, "identity of the C# host\n");
        CheckLayout(facts);
        CheckDeclarations();
        CheckResults(facts);
        CheckArguments(identity, work);
        CheckServiceError();
        QueryTheService(args[1], work, identity);
        CheckBuffersReleased(identity, work);
        CheckLoadedLibrary();
        Console.WriteLine(failures == 0 ? "C# binding: ok" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
