// The record table in unmanaged memory, where the library writes each
// record's Code by the address the context holds: it stays at that address
// from the build to the parse, and is freed once, by Dispose or finalizer.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Dvkc
{
    sealed class RecordTable : SafeHandle
    {
        static readonly int RecordSize = Marshal.SizeOf(typeof(QueryRecord));
        static readonly int SnOffset = (int)Marshal.OffsetOf(typeof(QueryRecord), "SN");
        static readonly int SsidOffset = (int)Marshal.OffsetOf(typeof(QueryRecord), "SSID");
        static readonly int CodeOffset = (int)Marshal.OffsetOf(typeof(QueryRecord), "Code");

        RecordTable() : base(IntPtr.Zero, true)
        {
        }

        public int Count { get; private set; }

        public override bool IsInvalid
        {
            get { return handle == IntPtr.Zero; }
        }

        // A table of the records (SN and SSID bytes, each within its field
        // with room for the NUL), every Code -1.
        public static RecordTable Create(IList<KeyValuePair<byte[], byte[]>> records)
        {
            int bytes = RecordSize * records.Count;
            var table = new RecordTable();
            IntPtr memory = Marshal.AllocHGlobal(bytes);
            table.SetHandle(memory);
            Marshal.Copy(new byte[bytes], 0, memory, bytes);
            for (int i = 0; i < records.Count; ++i) {
                IntPtr record = memory + i * RecordSize;
                Marshal.Copy(records[i].Key, 0, record + SnOffset, records[i].Key.Length);
                Marshal.Copy(records[i].Value, 0, record + SsidOffset, records[i].Value.Length);
                Marshal.WriteInt32(record, CodeOffset, -1);
            }
            table.Count = records.Count;
            return table;
        }

        public int Code(int index)
        {
            return Marshal.ReadInt32(handle, index * RecordSize + CodeOffset);
        }

        protected override bool ReleaseHandle()
        {
            Marshal.FreeHGlobal(handle);
            return true;
        }
    }
}
