// The C# binding against the real library: its structures have the layout
// the C compiler gives dvkc.h, its imports the C calling convention, its
// result table is the header's, a whole
// query runs against dvkc serve, and a failure carries its call, words and
// the service's ErrID.
//   WholeQuery.exe C_FACTS DVKC_TOOL WORK_DIR
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
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

    // Every import is Cdecl from DVKCDLL, with ANSI texts: on 32-bit Windows
    // a StdCall declaration would unbalance the stack, which no run on a
    // 64-bit platform can show.
    static void CheckDeclarations()
    {
        int imports = 0;
        foreach (MethodInfo method in typeof(Dvkc.Native).GetMethods(BindingFlags.Public | BindingFlags.Static)) {
            var import = (DllImportAttribute)method.GetCustomAttributes(typeof(DllImportAttribute), false).FirstOrDefault();
            if (import == null)
                continue;
            ++imports;
            Equal("DVKCDLL", import.Value, method.Name + " library");
            Equal(CallingConvention.Cdecl, import.CallingConvention, method.Name + " calling convention");
            if (method.GetParameters().Any(p => p.ParameterType == typeof(string)))
                Equal(CharSet.Ansi, import.CharSet, method.Name + " character set");
        }
        Equal(6, imports, "imported functions");
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

    static int SampleCode(string sn)
    {
        return Encoding.ASCII.GetBytes(sn).Sum(b => (int)b) % 1000;
    }

    static void QueryTheService(string tool, string work)
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
                string identity = Path.Combine(work, "identity.bin");
                File.WriteAllText(identity, "identity of the C# host\n");

                using (var q = new Dvkc.Query()) {
                    q.Add("SN-0001", "A123");
                    q.Add("DEV42-7781", "WIFI-HOME");
                    byte[] document = q.Build(42, identity);
                    q.Parse(Dvkc.Query.Exchange("127.0.0.1", port, "/dvk", Path.Combine(pki, "trust.pem"),
                                                Dvkc.Query.Envelope(document, "signature")));
                    Equal(SampleCode("SN-0001"), q.Code(0), "code of SN-0001");
                    Equal(SampleCode("DEV42-7781"), q.Code(1), "code of DEV42-7781");
                    Equal(40, q.ClientID.Length, "ClientID length");
                    Equal(15, q.Nonce.Length, "Nonce length");
                    Equal(14, q.RequestTime.Length, "ReqTime length");
                    Check(Encoding.ASCII.GetString(document).StartsWith("<DVKReq><ClientID>" + q.ClientID + "</ClientID>"),
                          "document starts with our ClientID");
                }
            } finally {
                serve.Kill();
                serve.WaitForExit();
            }
        }
    }

    static void CheckServiceError()
    {
        var q = new Dvkc.Query();
        try {
            q.Parse(Encoding.ASCII.GetBytes("HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ErrID>77</ErrID></DVKResponse>"));
            Check(false, "an error answer is reported");
        } catch (Dvkc.Error e) {
            Equal("iParse_DVKResponsePKT", e.Call, "call");
            Equal(2000, e.Result, "result");
            Equal((int?)77, e.ErrID, "ErrID");
            Equal("iParse_DVKResponsePKT 2000: the service reported an error (ErrID 77)", e.Message, "message");
        }
    }

    static int Main(string[] args)
    {
        string[] facts = File.ReadAllLines(args[0], Encoding.GetEncoding("iso-8859-1"));
        CheckLayout(facts);
        CheckDeclarations();
        CheckResults(facts);
        CheckServiceError();
        QueryTheService(args[1], args[2]);
        Console.WriteLine(failures == 0 ? "C# binding: ok" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
