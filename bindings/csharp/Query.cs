// A small wrapper over Native, of the same shape as the Python binding:
//
//   var q = new Dvkc.Query();
//   q.Add("SN-0001", "A123");
//   byte[] document = q.Build(42, "client.id");
//   q.Parse(Dvkc.Query.Exchange("dvk.example.net", 443, "/dvk", "service-ca.pem",
//                               Dvkc.Query.Envelope(document, Sign(document))));
//   int code = q.Code(0);
//
// Every call returns what the library produced or throws Dvkc.Error, which
// carries the call's exported name, the result, the words dvkc.h gives for
// it (Results, generated from the header) and, for 2000, the service's ErrID.
// Every buffer the library returns is copied and given back to vFreeData at
// once, however the call ends.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Dvkc
{
    public enum Call { Build = 0, Wrap = 1, Exchange = 2, Parse = 3 }

    public sealed class Result
    {
        public readonly Call Call;
        public readonly string Name;
        public readonly int Value;
        public readonly string Words;

        public Result(Call call, string name, int value, string words)
        {
            Call = call;
            Name = name;
            Value = value;
            Words = words;
        }
    }

    public static partial class Results
    {
        public static IReadOnlyList<Result> All { get { return Table; } }

        public static string CallName(Call call)
        {
            switch (call) {
            case Call.Build: return "iMake_DVKReqPKT";
            case Call.Wrap: return "iMake_DVKRequestPKT";
            case Call.Exchange: return "iSSL_SendThenRecv";
            default: return "iParse_DVKResponsePKT";
            }
        }

        // The words for `value` as a result of `call`; "unknown result" otherwise.
        public static string Words(Call call, int value)
        {
            foreach (Result row in Table)
                if (row.Call == call && row.Value == value)
                    return row.Words;
            return "unknown result";
        }
    }

    // A call that returned anything but 0; Message reads e.g.
    // "iParse_DVKResponsePKT 2005: the answer's nonce is not the one we sent".
    public sealed class Error : Exception
    {
        public readonly string Call;
        public readonly int Result;
        public readonly string Words;
        public readonly int? ErrID;

        public Error(Call call, int result, int? errId = null)
            : base(Results.CallName(call) + " " + result + ": " + Results.Words(call, result) +
                   (errId.HasValue ? " (ErrID " + errId.Value + ")" : ""))
        {
            Call = Results.CallName(call);
            Result = result;
            Words = Results.Words(call, result);
            ErrID = errId;
        }
    }

    // One query: the context and its record table, which stays in unmanaged
    // memory at one address from Build to Parse (until the next Build or
    // Dispose).
    public sealed class Query : IDisposable
    {
        static readonly int RecordSize = Marshal.SizeOf(typeof(QueryRecord));
        static readonly int CodeOffset = (int)Marshal.OffsetOf(typeof(QueryRecord), "Code");

        readonly List<QueryRecord> pending = new List<QueryRecord>();
        QueryContext context;
        IntPtr table = IntPtr.Zero;
        int tableCount;

        // Appends a record for the next Build; ArgumentException when SN
        // exceeds 16 or SSID 10 bytes (in the ANSI code page).
        public void Add(string sn, string ssid)
        {
            CheckLength(sn, Native.SnMax, "SN");
            CheckLength(ssid, Native.SsidMax, "SSID");
            pending.Add(new QueryRecord { SN = sn, SSID = ssid, Code = -1 });
        }

        // iMake_DVKReqPKT: the request document for the records added so far.
        public byte[] Build(int seedModifier, string identityFile)
        {
            FreeTable();
            if (pending.Count > 0) {
                table = Marshal.AllocHGlobal(RecordSize * pending.Count);
                for (int i = 0; i < pending.Count; ++i)
                    Marshal.StructureToPtr(pending[i], table + i * RecordSize, false);
            }
            tableCount = pending.Count;
            context.TotalCount = tableCount;
            context.Records = table;
            int length;
            IntPtr buffer;
            int result = Native.iMake_DVKReqPKT(seedModifier, identityFile, ref context, out length, out buffer);
            return Take(Call.Build, result, buffer, length);
        }

        // iMake_DVKRequestPKT: the envelope around the document and signature.
        public static byte[] Envelope(byte[] document, byte[] signature)
        {
            int length;
            IntPtr buffer;
            int result = Native.iMake_DVKRequestPKT(document.Length, Terminated(document), signature.Length,
                                                    Terminated(signature), out length, out buffer);
            return Take(Call.Wrap, result, buffer, length);
        }

        public static byte[] Envelope(byte[] document, string signature)
        {
            return Envelope(document, Encoding.ASCII.GetBytes(signature));
        }

        // iSSL_SendThenRecv: posts the body; the raw answer. Blocks without a
        // time limit, as the library does.
        public static byte[] Exchange(string host, int port, string path, string trustFile, byte[] body)
        {
            int length;
            IntPtr buffer;
            int result = Native.iSSL_SendThenRecv(host, port, trustFile, path, body.Length, Terminated(body),
                                                  out length, out buffer);
            return Take(Call.Exchange, result, buffer, length);
        }

        // iParse_DVKResponsePKT: writes the codes of the last Build's records.
        public void Parse(byte[] answer)
        {
            context.Records = table;
            context.TotalCount = tableCount;
            int result = Native.iParse_DVKResponsePKT(ref context, answer.Length, Terminated(answer));
            if (result != 0)
                throw new Error(Call.Parse, result,
                                result == Results.DVKC_PARSE_SERVICE_ERROR ? context.ErrID : (int?)null);
        }

        public int Count { get { return tableCount; } }

        public int Code(int index)
        {
            if (index < 0 || index >= tableCount)
                throw new IndexOutOfRangeException("dvkc: no record " + index);
            return Marshal.ReadInt32(table + index * RecordSize + CodeOffset);
        }

        public string ClientID { get { return context.ClientID; } }
        public string Nonce { get { return context.Nonce; } }
        public string RequestTime { get { return context.ReqTime; } }
        public int ErrID { get { return context.ErrID; } }

        public void Dispose()
        {
            FreeTable();
            GC.SuppressFinalize(this);
        }

        ~Query() { FreeTable(); }

        void FreeTable()
        {
            if (table != IntPtr.Zero) {
                for (int i = 0; i < tableCount; ++i)
                    Marshal.DestroyStructure(table + i * RecordSize, typeof(QueryRecord));
                Marshal.FreeHGlobal(table);
            }
            table = IntPtr.Zero;
            tableCount = 0;
            context.Records = IntPtr.Zero;
            context.TotalCount = 0;
        }

        // Copies a returned buffer and gives it back to vFreeData, whatever
        // happens; throws Error for a non-zero result.
        static byte[] Take(Call call, int result, IntPtr buffer, int length)
        {
            try {
                if (result != 0)
                    throw new Error(call, result);
                byte[] copy = new byte[length];
                Marshal.Copy(buffer, copy, 0, length);
                return copy;
            } finally {
                if (result == 0)
                    Native.vFreeData(buffer);
            }
        }

        static byte[] Terminated(byte[] text)
        {
            if (Array.IndexOf(text, (byte)0) >= 0)
                throw new ArgumentException("dvkc: text holds a NUL byte");
            byte[] copy = new byte[text.Length + 1];
            Buffer.BlockCopy(text, 0, copy, 0, text.Length);
            return copy;
        }

        static void CheckLength(string text, int max, string what)
        {
            if (text == null)
                throw new ArgumentNullException(what);
            if (text.IndexOf('\0') >= 0)
                throw new ArgumentException("dvkc: " + what + " holds a NUL");
            IntPtr ansi = Marshal.StringToHGlobalAnsi(text);
            try {
                int length = 0;
                while (Marshal.ReadByte(ansi, length) != 0)
                    ++length;
                if (length > max)
                    throw new ArgumentException("dvkc: " + what + " longer than " + max + " bytes: " + text);
            } finally {
                Marshal.FreeHGlobal(ansi);
            }
        }
    }
}
