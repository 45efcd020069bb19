package com.fernwickdale.korvane.apps;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * The launcher's main class as the end-to-end tests see it. It writes what it
 * was given to the file named by the environment variable QUENLET_REPORT, one
 * item a line, and with "--throw" ends with an exception.
 */
public final class Quenlet {
    public static void main(String[] args) throws Exception {
        StringBuilder report = new StringBuilder();
        report.append("count=").append(args.length).append('\n');
        for (String arg : args) {
            report.append("arg=");
            for (char c : arg.toCharArray()) {
                report.append(c >= 0x20 && c < 0x7F && c != '\\' ? String.valueOf(c) : String.format("\\u%04x", (int) c));
            }
            report.append('\n');
        }
        report.append("class.path=").append(System.getProperty("java.class.path")).append('\n');
        String tmp = System.getProperty("java.io.tmpdir");
        report.append("tmpdir=").append(tmp).append('\n');
        report.append("tmpdir.exists=").append(new File(tmp).isDirectory()).append('\n');
        report.append("max.heap.mib=").append(Runtime.getRuntime().maxMemory() / (1024 * 1024)).append('\n');
        Files.write(Paths.get(System.getenv("QUENLET_REPORT")), report.toString().getBytes(StandardCharsets.UTF_8));
        if (args.length > 0 && args[0].equals("--throw")) {
            throw new IllegalStateException("thrown by the test application");
        }
    }
}
