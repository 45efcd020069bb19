package com.fernwickdale.korvane.apps;

/** A main class whose main is an instance method: the launcher cannot call it. */
public final class Quenlet {
    public void main(String[] args) {
        System.out.println("never called");
    }
}
