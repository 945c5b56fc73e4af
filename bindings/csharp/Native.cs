// The C interface of dvkc.h for P/Invoke: the two structures with their
// fixed arrays and the six functions.
//
// - The library is "DVKCDLL" (DVKCDLL.dll on Windows; elsewhere a DLL map
//   names the platform's library, e.g. libdvkc.so.1 in Dvkc.dll.config).
// - Calling convention: Cdecl, on 32-bit Windows as everywhere (the default
//   of DllImport there would be StdCall, which would unbalance the stack).
// - Texts are single-byte (ANSI) strings; returned buffers arrive as raw
//   pointers (IntPtr) that must go back to vFreeData.
// - The context may be passed by reference (copied in and out per call), but
//   the record table it points to must stay at one address from
//   iMake_DVKReqPKT to iParse_DVKResponsePKT: keep it in unmanaged memory
//   (Query does) or pinned.
using System;
using System.Runtime.InteropServices;

namespace Dvkc
{
    // 32 bytes: SN at 0, SSID at 17, Code at 28.
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Ansi, Pack = 8)]
    public struct QueryRecord
    {
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.SnMax + 1)]
        public string SN;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.SsidMax + 1)]
        public string SSID;
        public int Code;
    }

    // ClientID 0, Nonce 101, ReqTime 117, ErrID 132, TotalCount 136, Records
    // 144 with 64-bit pointers (140 with 32-bit ones): 152 or 144 bytes.
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Ansi, Pack = 8)]
    public struct QueryContext
    {
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 101)]
        public string ClientID;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)]
        public string Nonce;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 15)]
        public string ReqTime;
        public int ErrID;
        public int TotalCount;
        public IntPtr Records;
    }

    public static class Native
    {
        public const string Library = "DVKCDLL";
        public const int SnMax = 16;
        public const int SsidMax = 10;

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int iMake_DVKReqPKT(int seedModifier, string identityPath, ref QueryContext ctx,
                                                 out int outLen, out IntPtr outBuf);

        // The document and the signature as NUL-terminated bytes.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iMake_DVKRequestPKT(int docLen, byte[] doc, int sigLen, byte[] sig,
                                                     out int outLen, out IntPtr outBuf);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int iSSL_SendThenRecv(string host, int port, string trustPath, string urlPath,
                                                   int bodyLen, byte[] body, out int outLen, out IntPtr outBuf);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iParse_DVKResponsePKT(ref QueryContext ctx, int responseLen, byte[] response);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int bin2hex(byte[] bytes, int count, byte[] output);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void vFreeData(IntPtr buffer);
    }
}
